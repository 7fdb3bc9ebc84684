// The first pass's holes on their own: markers walked and filled from the tables as they
// stand when the pass is over, and the verdict on whether filling gives the page a second
// pass would write.
#include "core/FirstPass_CL.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace tarvix {
namespace {

// The bytes of a literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// `html` as a walk sees it: each stretch of text in brackets, each hole as #N.
std::string Walked(std::string_view html, bool* reachedEnd) {
  std::string walked;
  *reachedEnd = FirstPass_CL::WalkHoles(
      html, [&walked](std::string_view text) { walked.append("[").append(text).append("]"); },
      [&walked](std::size_t index) {
        walked.append("#").append(std::to_string(index));
        return true;
      });
  return walked;
}

TEST(FirstPass, WalksMarkersInOrder) {
  struct Case {
    std::string html;
    std::string walked;
    bool reachedEnd;
  };
  const Case cases[] = {
      {"plain", "[plain]", true},
      {"", "[]", true},
      {Bytes("a\0"
             "3\0"
             "b"),
       "[a]#3[b]", true},
      {Bytes("\0"
             "12\0\0"
             "0\0"),
       "[]#12[]#0[]", true},
      // A marker cut short ends the walk before it.
      {Bytes("x\0"
             "7"),
       "[x]", false},
  };
  for (const Case& c : cases) {
    bool reachedEnd = false;
    EXPECT_EQ(Walked(c.html, &reachedEnd), c.walked) << c.walked;
    EXPECT_EQ(reachedEnd, c.reachedEnd) << c.walked;
  }
}

TEST(FirstPass, FillsHolesFromTheTablesAsTheyStandAtTheEnd) {
  ReferenceTable links;
  ReferenceTable carets;
  FirstPass_CL firstPass(links, carets);
  ASSERT_TRUE(firstPass.MakingHoles(1));
  EXPECT_FALSE(firstPass.MakingHoles(2));
  OutputPair out;
  out.html = "<a href=\"";
  FirstPass_CL::AppendHoleMarker(out, firstPass.NewHole("k", false));
  out.html += "\">x</a> ";
  FirstPass_CL::AppendHoleMarker(out, firstPass.NewHole("n", true));
  FirstPass_CL::AppendHoleMarker(out, firstPass.NewHole("gone", true));
  FirstPass_CL::AppendHoleMarker(out, firstPass.NewHole("missing", false));
  EXPECT_EQ(out.html, Bytes("<a href=\"\0"
                            "0\0\">x</a> \0"
                            "1\0\0"
                            "2\0\0"
                            "3\0"));
  // The definitions came after their uses, as later lines of a document would.
  links["k"] = "http://e.example/a b";
  carets["n"] = "#note";
  const std::string page =
      "<a href=\"http://e.example/a b\">x</a> <a href=\"#note\" alt=\"n\">^n</a>";
  EXPECT_EQ(firstPass.FillHoles(out.html), page);
  EXPECT_EQ(firstPass.FilledSize(out.html), page.size());
  EXPECT_TRUE(firstPass.CanComplete());
}

TEST(FirstPass, CompletesOnlyWhenTheSecondPassWouldWriteTheSame) {
  const std::string caretHole = Bytes(
      "\0"
      "0\0");
  {
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    EXPECT_TRUE(firstPass.CanComplete()) << "no holes";
    firstPass.enabled = false;
    EXPECT_FALSE(firstPass.CanComplete()) << "switched off";
    EXPECT_FALSE(firstPass.MakingHoles(1));
  }
  {
    // A definition whose label holds a hole: its key is the label with the hole written
    // as nothing, which is what the second pass writes only while the hole stays empty.
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    (void)firstPass.NewHole("c", true);
    const std::string addressHole = Bytes(
        "\0"
        "1\0");
    (void)firstPass.NewHole("r", false);
    EXPECT_EQ(firstPass.DefinitionKey("a" + caretHole + "b" + addressHole, 1), "ab");
    EXPECT_TRUE(firstPass.CanComplete()) << "both still undefined";
    links["r"] = "";
    EXPECT_TRUE(firstPass.CanComplete()) << "an empty address writes nothing";
    links["r"] = "u";
    EXPECT_FALSE(firstPass.CanComplete()) << "the second pass writes the address";
    links.erase("r");
    carets["c"] = "#c";
    EXPECT_FALSE(firstPass.CanComplete()) << "the second pass writes the caret link";
  }
  {
    // In the second pass keys are kept as they are and decide nothing.
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    EXPECT_EQ(firstPass.DefinitionKey("a" + caretHole, 2), "a" + caretHole);
    EXPECT_TRUE(firstPass.CanComplete());
  }
  {
    // An undefined caret link at the trimmed edge of a heading: the trimming would have
    // seen further without it. Once the caret is defined, the edge is its link.
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    (void)firstPass.NewHole("c", true);
    firstPass.NoteTrimmed("Title " + caretHole, 1);
    EXPECT_FALSE(firstPass.CanComplete());
    carets["c"] = "#c";
    EXPECT_TRUE(firstPass.CanComplete());
  }
  {
    // A reference whose label holds an undefined caret link: the second pass looks the
    // label up without it, and finds a definition there.
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    (void)firstPass.NewHole("c", true);
    (void)firstPass.NewHole("x" + caretHole + "y", false, true);
    std::string written;
    EXPECT_TRUE(firstPass.LabelAsSecondPassWrites("x" + caretHole + "y", &written));
    EXPECT_EQ(written, "xy");
    EXPECT_TRUE(firstPass.CanComplete()) << "no definition under the written label";
    links["xy"] = "u";
    EXPECT_FALSE(firstPass.CanComplete()) << "the second pass would find \"xy\"";
  }
  {
    // A label holding a reference's hole is not written the same by the second pass.
    ReferenceTable links, carets;
    FirstPass_CL firstPass(links, carets);
    (void)firstPass.NewHole("r", false);
    std::string written;
    EXPECT_FALSE(firstPass.LabelAsSecondPassWrites("x" + caretHole, &written));
  }
}

TEST(FirstPass, ClearForgetsTheHolesAndTheBody) {
  ReferenceTable links, carets;
  FirstPass_CL firstPass(links, carets);
  (void)firstPass.NewHole("c", true);
  (void)firstPass.DefinitionKey(Bytes("\0"
                                      "0\0"),
                                1);
  firstPass.body.html = "kept";
  firstPass.filling = true;
  firstPass.messages.push_back({MessageKind::IncludeMissing, "said", {}, {}});
  carets["c"] = "#c";  // the key's hole is filled: the second pass would write another key
  ASSERT_FALSE(firstPass.CanComplete());
  firstPass.Clear();
  EXPECT_TRUE(firstPass.CanComplete());
  EXPECT_EQ(firstPass.NewHole("d", false), 0);
  EXPECT_TRUE(firstPass.body.html.empty());
  EXPECT_FALSE(firstPass.filling);
  EXPECT_TRUE(firstPass.messages.empty());
}

}  // namespace
}  // namespace tarvix
