// Constructs written in place, driven as the inline dispatcher drives the writer: a match
// wraps what its inside wrote, a failure leaves the escaped source of the whole
// construct, inner constructs included, and long literal stretches that an inner
// construct left behind survive the failure of the constructs around them unchanged.
#include "core/InPlaceWriter_CL.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace tarvix {
namespace {

// One inline run: it watches the pair's tail before each token it writes and once more
// when it returns, as the dispatcher does.
class InlineRun {
 public:
  InlineRun(InPlaceWriter_CL& writer, OutputPair& out) : writer_(writer), out_(out) {}
  // A text token: its source and its escaped HTML.
  InlineRun& Text(std::string_view source) {
    writer_.WatchTail(out_, watch_, 0);
    out_.BeginLiteral();
    AppendText(out_, source);
    AppendEscaped(out_, source);
    return *this;
  }
  // The dispatch of a construct's opener: the tail is watched first, as for any token.
  InlineRun& Dispatch() {
    writer_.WatchTail(out_, watch_, 0);
    return *this;
  }
  void Return() { writer_.WatchTail(out_, watch_, 0); }

 private:
  InPlaceWriter_CL& writer_;
  OutputPair& out_;
  TailWatch watch_;
};

// `count` copies of `piece`.
std::string Repeat(std::string_view piece, int count) {
  std::string s;
  for (int i = 0; i < count; ++i)
    s.append(piece);
  return s;
}

// An emphasis around `inside` that matches (closes on "*") or fails, in a run of its own.
void Emphasis(InPlaceWriter_CL& writer, OutputPair& out, std::string_view inside, bool match) {
  const InPlace at = writer.Begin(out, "*");
  InlineRun(writer, out).Text(inside).Return();
  if (!match) {
    writer.WriteBack(out, at, {});
    return;
  }
  out.text.push_back('*');
  writer.Close(out, at, "<em>", "</em>", 1);
}

TEST(InPlaceWriter, MatchWrapsAndFailureWritesTheSourceBack) {
  InPlaceWriter_CL writer;
  {
    // A body keeps no text: the construct keeps it while it runs, then drops it.
    OutputPair body;
    body.keepText = false;
    InlineRun(writer, body).Text("a ").Return();
    Emphasis(writer, body, "x<y", true);
    EXPECT_EQ(body.html, "a <em>x&lt;y</em>");
    EXPECT_EQ(body.text, "");
    EXPECT_FALSE(body.keepText);
    EXPECT_FALSE(writer.AnyOpen());
  }
  {
    OutputPair body;
    body.keepText = false;
    Emphasis(writer, body, "b&c", false);
    EXPECT_EQ(body.html, "*b&amp;c");
    EXPECT_FALSE(writer.AnyOpen());
  }
  {
    // A pair that keeps its text has the construct's source in it either way.
    OutputPair cell;
    Emphasis(writer, cell, "b&c", false);
    Emphasis(writer, cell, "d", true);
    EXPECT_EQ(cell.text, "*b&c*d*");
    EXPECT_EQ(cell.html, "*b&amp;c<em>d</em>");
  }
}

TEST(InPlaceWriter, FailureAroundInnerConstructsIsItsWholeSource) {
  const std::string amps = Repeat("&", 300);
  const std::string escapedAmps = Repeat("&amp;", 300);
  struct Case {
    const char* name;
    bool innerMatches;
    bool outerMatches;
    bool longInside;  // the inner construct's inside outgrows the shortest kept stretch
    std::string html;
  };
  const Case cases[] = {
      {"short, inner matched", true, false, false, "[a *i* t&amp;"},
      {"short, inner failed", false, false, false, "[a *i t&amp;"},
      {"short, both matched", true, true, false, "<a href=\"u\">a <em>i</em> t&amp;</a>"},
      {"long, inner failed, outer failed", false, false, true, "[a *" + escapedAmps + " t&amp;"},
      {"long, inner failed, outer matched", false, true, true,
       "<a href=\"u\">a *" + escapedAmps + " t&amp;</a>"},
      {"long, inner matched, outer failed", true, false, true, "[a *" + escapedAmps + "* t&amp;"},
      {"long, both matched", true, true, true,
       "<a href=\"u\">a <em>" + escapedAmps + "</em> t&amp;</a>"},
  };
  for (const Case& c : cases) {
    InPlaceWriter_CL writer;
    OutputPair body;
    body.keepText = false;
    InlineRun(writer, body).Text("x ").Return();
    const std::size_t before = body.html.size();
    const InPlace link = writer.Begin(body, "[");
    InlineRun linkText(writer, body);
    linkText.Text("a ").Dispatch();
    Emphasis(writer, body, c.longInside ? amps : "i", c.innerMatches);
    linkText.Text(" t&").Return();
    if (c.outerMatches) {
      body.text.push_back(']');
      writer.Close(body, link, "<a href=\"u\">", "</a>", 1);
    } else {
      writer.WriteBack(body, link, {});
    }
    EXPECT_EQ(body.html.substr(before), c.html) << c.name;
    EXPECT_EQ(body.html.substr(0, before), "x ") << c.name;
    EXPECT_FALSE(writer.AnyOpen()) << c.name;
  }
}

TEST(InPlaceWriter, FailureOverAFailedSpanReadsNoStaleStretch) {
  // A strong span fails around a long literal between emphases that matched: its HTML
  // shrinks where the emphasis's tags become source, and the link around it, failing in
  // turn over later markup, must not read the literal where it stood before.
  const std::string amps = Repeat("&", 300);
  for (const bool linkMatches : {false, true}) {
    InPlaceWriter_CL writer;
    OutputPair body;
    body.keepText = false;
    const InPlace link = writer.Begin(body, "[");
    InlineRun linkText(writer, body);
    linkText.Text("a ").Dispatch();
    const InPlace strong = writer.Begin(body, "**");
    InlineRun strongText(writer, body);
    strongText.Dispatch();
    Emphasis(writer, body, "j", true);
    strongText.Text(amps).Dispatch();
    Emphasis(writer, body, "m", true);
    strongText.Return();
    writer.WriteBack(body, strong, {});
    // Markup after it: the link's failure rewrites up to there.
    linkText.Text(" t&").Dispatch();
    Emphasis(writer, body, "k", true);
    linkText.Return();
    if (linkMatches) {
      body.text.push_back(']');
      writer.Close(body, link, "<a href=\"u\">", "</a>", 1);
      EXPECT_EQ(body.html,
                "<a href=\"u\">a ***j*" + Repeat("&amp;", 300) + "*m* t&amp;<em>k</em></a>");
    } else {
      writer.WriteBack(body, link, {});
      EXPECT_EQ(body.html, "[a ***j*" + Repeat("&amp;", 300) + "*m* t&amp;*k*");
    }
  }
}

TEST(InPlaceWriter, SourceReadIntoTheTextWritesBackAsSourcePassedIn) {
  // A failed construct whose last source was read straight into the pair's text (a
  // definition's address) must leave what passing that source in leaves: the text before
  // it is rewritten on its own, even where a character could run across the joint.
  const std::string amps = Repeat("&", 300);
  struct Case {
    const char* name;
    std::string inside;  // an emphasis inside the link, matched; empty: none
    std::string after;   // literal text after it
    std::string more;    // the source read last
    std::string html;
  };
  const Case cases[] = {
      {"no markup", "", "b&", "]:u", "[a b&amp;]:u"},
      {"markup, a character split at the joint", "i", "\xC3", "\xA9]",
       "[a *i*\xEF\xBF\xBD\xEF\xBF\xBD]"},
      {"long stretch inside", amps, "", "]:x<", "[a *" + Repeat("&amp;", 300) + "*]:x&lt;"},
  };
  for (const Case& c : cases) {
    for (const bool joined : {false, true}) {
      for (const bool keepsText : {false, true}) {
        InPlaceWriter_CL writer;
        OutputPair out;
        out.keepText = keepsText;
        const InPlace link = writer.Begin(out, "[");
        InlineRun linkText(writer, out);
        linkText.Text("a ").Dispatch();
        if (!c.inside.empty())
          Emphasis(writer, out, c.inside, true);
        if (!c.after.empty())
          linkText.Text(c.after);
        linkText.Return();
        if (joined) {
          const std::size_t moreAt = out.text.size();
          out.text.append(c.more);
          writer.WriteBackJoined(out, link, moreAt);
        } else {
          writer.WriteBack(out, link, c.more);
        }
        const std::string label = std::string(c.name) + (joined ? ", read in" : ", passed in") +
                                  (keepsText ? ", text kept" : "");
        EXPECT_EQ(out.text, keepsText ? "[a " + (c.inside.empty() ? "" : "*" + c.inside + "*") +
                                            c.after + c.more
                                      : "")
            << label;
        EXPECT_FALSE(writer.AnyOpen()) << label;
        EXPECT_EQ(out.html, c.html) << label;
      }
    }
  }
}

TEST(InPlaceWriter, CutDropsTheHtmlAndKeepsThePairUsable) {
  // A definition or an image replaces what its construct wrote with HTML of its own.
  InPlaceWriter_CL writer;
  OutputPair body;
  body.keepText = false;
  InlineRun(writer, body).Text("p ").Return();
  const InPlace at = writer.Begin(body, "![");
  InlineRun(writer, body).Text(Repeat("<", 300)).Return();
  writer.Cut(body, at);
  body.html.append("<img src=\"i.png\" />");
  body.MarkMarkup();
  writer.End(body, at);
  Emphasis(writer, body, "e", false);
  EXPECT_EQ(body.html, "p <img src=\"i.png\" />*e");
  EXPECT_FALSE(writer.AnyOpen());
}

TEST(InPlaceWriter, ScratchPairsAreEmptyAndOnePerDepth) {
  InPlaceWriter_CL writer;
  OutputPair& first = writer.ScratchPair(0);
  first.html = "used";
  first.text = "used";
  OutputPair& deeper = writer.ScratchPair(3);
  deeper.html = "deeper";
  // A pair asked for again comes back empty, and the deeper one was not moved by it.
  OutputPair& again = writer.ScratchPair(0);
  EXPECT_EQ(&again, &first);
  EXPECT_EQ(again.html, "");
  EXPECT_EQ(again.text, "");
  EXPECT_EQ(deeper.html, "deeper");
  EXPECT_NE(&writer.ScratchPair(1), &first);
}

TEST(InPlaceWriter, TextKeptAcrossMegabytesMovesWhole) {
  // A construct held open over megabytes, with more of the document still unread: its kept
  // source moves to larger buffers as it fills them, and its failure still writes back
  // every byte of it, the span that matched before any move included.
  InPlaceWriter_CL writer;
  OutputPair body;
  body.keepText = false;
  const InPlace outer = writer.Begin(body, "*");
  Emphasis(writer, body, "x", true);
  const std::string piece = Repeat("ab cd ", 1000);
  constexpr int kPieces = 1500;  // 9 MB
  TailWatch watch;
  for (int i = 0; i < kPieces; ++i) {
    writer.WatchTail(body, watch, std::size_t{64} << 20);
    body.BeginLiteral();
    AppendText(body, piece);
    AppendEscaped(body, piece);
  }
  writer.WatchTail(body, watch, 0);
  writer.WriteBack(body, outer, {});
  EXPECT_TRUE(body.html == "**x*" + Repeat(piece, kPieces));
  EXPECT_FALSE(writer.AnyOpen());
}

// Random nests of constructs inside one that fails: whatever the inner ones did, the
// failure leaves the escaped source of everything after its opener. The inner constructs
// make the rewrite shrink (a tag written for a short opener) and grow (an opener whose
// escaped form is longer than the nothing it became), around literal runs long enough to
// be kept and damaged UTF-8 whose bytes may join across a stretch's edge.
class RandomNest {
 public:
  RandomNest(InPlaceWriter_CL& writer, OutputPair& out, unsigned seed)
      : writer_(writer), out_(out), random_(seed) {}

  // The source of a nest of inner constructs and text written into the pair.
  void Run(int depth) {
    InlineRun run(writer_, out_);
    const int items = Pick(1, 6);
    for (int i = 0; i < items; ++i) {
      if (depth < 4 && Pick(0, 2) == 0) {
        run.Dispatch();
        Construct(depth + 1);
      } else {
        const std::string text = Text();
        source_ += text;
        run.Text(text);
      }
    }
    run.Return();
  }
  const std::string& source() const { return source_; }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  std::string Text() {
    static constexpr std::string_view kPieces[] = {"a", " ", "&", "<", "\\", "\xE3\x81\x82",
                                                   "\xE3", "\x81", "\xFF", "\xC3", "\xA9"};
    // A token starts and ends where no character can run across: on an ASCII byte, as
    // the lexer's tokens do.
    std::string text(kPieces[Pick(0, 4)]);
    const int length = Pick(0, 3) == 0 ? Pick(100, 400) : Pick(0, 8);
    for (int i = 0; i < length; ++i)
      text += kPieces[Pick(0, std::size(kPieces) - 1)];
    text += kPieces[Pick(0, 4)];
    return text;
  }

  void Construct(int depth) {
    const bool backslash = Pick(0, 1) == 0;
    const std::string_view opener = backslash ? "\\" : "*";
    source_ += opener;
    const InPlace at = writer_.Begin(out_, opener);
    Run(depth);
    switch (Pick(0, 2)) {
      case 0:
        writer_.WriteBack(out_, at, {});
        break;
      case 1:
        // Matched into less than its escaped source: the rewrite around it grows.
        writer_.Close(out_, at, backslash ? "" : "<em>", backslash ? "" : "</em>", 0);
        break;
      default:
        // Matched with a closer and tags longer than its source: the rewrite shrinks.
        source_ += "*";
        out_.text.push_back('*');
        writer_.Close(out_, at, "<strong class=\"x\">", "</strong>", 1);
        break;
    }
  }

  InPlaceWriter_CL& writer_;
  OutputPair& out_;
  std::mt19937 random_;
  std::string source_;
};

TEST(InPlaceWriter, FailureAroundRandomNestsIsItsWholeSource) {
  InPlaceWriter_CL writer;
  for (unsigned seed = 0; seed < 400; ++seed) {
    OutputPair body;
    body.keepText = false;
    InlineRun(writer, body).Text("x ").Return();
    const InPlace outer = writer.Begin(body, "[");
    RandomNest nest(writer, body, seed);
    nest.Run(0);
    // Some source follows the nest too, with HTML after the failed construct's tail.
    writer.WriteBack(body, outer, "]");
    std::string expected = "x ";
    AppendEscapedTo(expected, "[" + nest.source() + "]");
    ASSERT_TRUE(body.html == expected) << "seed " << seed;
    EXPECT_FALSE(writer.AnyOpen());
  }
}

TEST(InPlaceWriter, LargeFailureKeepsItsStretchesAndEscapesEveryGap) {
  // Thousands of matched spans between kept stretches, failing together: the text between
  // the stretches outgrows what a rewrite holds in its buffer and is escaped a second time
  // into its place, and the HTML after the construct moves behind it.
  InPlaceWriter_CL writer;
  OutputPair body;
  body.keepText = false;
  const InPlace outer = writer.Begin(body, "[");
  std::string source = "[";
  InlineRun run(writer, body);
  const std::string literal = Repeat("a\xE3\x81\x82\xFF&", 60) + " ";
  for (int i = 0; i < 6000; ++i) {
    run.Text(literal);
    source += literal;
    // Spans too short to keep, each with a byte of text after it.
    for (int k = 0; k < 10; ++k) {
      run.Dispatch();
      const std::string_view inside = k % 2 == 0 ? "x\\" : "\xC3";
      Emphasis(writer, body, inside, true);
      run.Text("&");
      source += "*" + std::string(inside) + "*&";
    }
  }
  run.Text(literal).Return();
  source += literal;
  writer.WriteBack(body, outer, "]");
  source += "]";
  std::string expected;
  AppendEscapedTo(expected, source);
  EXPECT_TRUE(body.html == expected);
  EXPECT_FALSE(writer.AnyOpen());
}

}  // namespace
}  // namespace tarvix
