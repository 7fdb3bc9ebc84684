// The template filling: the same page as replacing the placeholders one after the other
// over the whole page, its size known before it is written, and the bound kept.
#include "core/TemplateFill_CL.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/Convert.h"

namespace tarvix {
namespace {

using Values = std::vector<std::string>;  // title, keywords, description, syntax, root, toc

// The page as the filling one placeholder after the other makes it: each at every
// occurrence, the search going on after the inserted value; `body` is inserted last.
std::string FillInOrder(std::string page, const Values& values, const std::string& body) {
  for (int i = 0; i < kPlaceholderCount; ++i) {
    const std::string_view from = kPlaceholders[i];
    const std::string& to = i == kBodyPlaceholder ? body : values[static_cast<std::size_t>(i)];
    std::string next;
    std::size_t start = 0;
    for (std::size_t at = page.find(from); at != std::string::npos; at = page.find(from, start)) {
      next.append(page, start, at - start).append(to);
      start = at + from.size();
    }
    next.append(page, start, std::string::npos);
    page = std::move(next);
  }
  return page;
}

class Collect_CL final : public TemplateFill_CL::Writer_CL {
 public:
  explicit Collect_CL(std::string body) : body_(std::move(body)) {}
  void Text(std::string_view bytes) override { page.append(bytes); }
  void Body() override { page.append(body_); }
  std::string page;

 private:
  std::string body_;
};

// The planned page, written; none when the plan refused it. `asked` counts the values
// asked for.
std::optional<std::string> Fill(std::string_view templateText, const Values& values,
                                const std::string& body, std::uint64_t limit = 1 << 30,
                                std::vector<int>* asked = nullptr) {
  TemplateFill_CL fill;
  const TemplateFill_CL::Values valueOf = [&](int index) -> std::optional<std::string_view> {
    if (asked)
      asked->push_back(index);
    return values[static_cast<std::size_t>(index)];
  };
  if (!fill.Plan(templateText, valueOf, body.size(), limit))
    return std::nullopt;
  Collect_CL collected(body);
  fill.Write(collected);
  EXPECT_EQ(collected.page.size(), fill.Size()) << templateText;
  return collected.page;
}

TEST(TemplateFill, GivesThePageOfFillingInOrder) {
  struct Case {
    std::string templateText;
    Values values;
  };
  const Case cases[] = {
      {"", {"t", "k", "d", "s", "r", "c"}},
      {"plain", {"t", "k", "d", "s", "r", "c"}},
      {"<title>####TITLE####</title>####BODY####|####BODY####", {"T", "", "", "", "", ""}},
      // A value is searched by the placeholders after its own, never by its own.
      {"####TITLE####", {"####TITLE####|####ROOT####|####KEYWORDS####", "k", "", "", "..", ""}},
      {"####ROOT####", {"####TITLE####", "", "", "", "####TITLE####", ""}},
      // A placeholder made of the template around a value, or of two values.
      {"####KEY####TITLE####ORDS####", {"WORDS####", "K", "", "", "", ""}},
      {"####KEYW####TITLE####ORDS####", {"", "K", "", "", "", ""}},
      {"####TITLE########TITLE####", {"####KEY", "K", "", "", "", ""}},
      {"####TITLE####", {"####KEY####SYNTAX####", "x", "", "WORDS####", "", ""}},
      {"####RO####DESCRIPTION####", {"", "", "OT####", "", "R", ""}},
      // Runs of "#" around placeholders, and placeholders cut short at the end.
      {"#####TITLE#####", {"t", "", "", "", "", ""}},
      {"########TITLE########ROOT########", {"#", "", "", "", "r", ""}},
      {"####TITLE####BODY####", {"####", "", "", "", "", ""}},
      {"####TOC####", {"", "", "", "", "", "####BODY####"}},
      {"####TITLE####|####TIT", {"LE####", "", "", "", "", ""}},
      {std::string(40, '#') + "TITLE" + std::string(9, '#'), {"x", "", "", "", "", ""}},
  };
  for (const Case& c : cases) {
    for (const std::string body : {"", "B", "####ROOT####"}) {
      EXPECT_EQ(Fill(c.templateText, c.values, body), FillInOrder(c.templateText, c.values, body))
          << c.templateText << " / " << c.values[0] << " / " << body;
    }
  }
}

TEST(TemplateFill, GivesThePageOfFillingInOrderForGeneratedTemplates) {
  // Pieces that make and break placeholders wherever they meet.
  const std::vector<std::string> pieces = {"####TITLE####",
                                           "####KEYWORDS####",
                                           "####DESCRIPTION####",
                                           "####SYNTAX####",
                                           "####ROOT####",
                                           "####TOC####",
                                           "####BODY####",
                                           "#",
                                           "##",
                                           "####",
                                           "#####",
                                           "TITLE",
                                           "####TIT",
                                           "LE####",
                                           "####KEY",
                                           "WORDS####",
                                           "####RO",
                                           "OT####",
                                           "####BO",
                                           "DY####",
                                           "TOC####",
                                           "####SYN",
                                           "TAX####",
                                           "x",
                                           "<p>"};
  std::mt19937 random(19);
  const auto make = [&](int most) {
    std::string s;
    const int n = static_cast<int>(random() % static_cast<unsigned>(most + 1));
    for (int i = 0; i < n; ++i)
      s += pieces[random() % pieces.size()];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string templateText = make(12);
    Values values;
    for (int i = 0; i < kBodyPlaceholder; ++i)
      values.push_back(make(i == 4 ? 2 : 5));
    const std::string body = make(2);
    ASSERT_EQ(Fill(templateText, values, body), FillInOrder(templateText, values, body))
        << "round " << round << ": " << templateText;
  }
}

TEST(TemplateFill, KnowsTheSizeOfAPageThatGrowsWithTheCubeOfItsValues) {
  // Values full of the placeholders after them made a page of the cube of their length,
  // built whole once per placeholder: 1.5 GB for a 19 KB document.
  const std::string templateText = "<title>####TITLE####</title>\n####BODY####\n";
  const Values values = {Repeat("####KEYWORDS####", 400),
                         Repeat("####DESCRIPTION####", 400),
                         Repeat("####ROOT####", 400),
                         "",
                         ".",
                         ""};
  TemplateFill_CL fill;
  const TemplateFill_CL::Values valueOf = [&](int index) -> std::optional<std::string_view> {
    return values[static_cast<std::size_t>(index)];
  };
  ASSERT_TRUE(fill.Plan(templateText, valueOf, 5, 0x7FFFFFFF));
  EXPECT_EQ(fill.Size(), 64000000u + 17u + 5u);

  // Past the bound nothing is planned; at it, the page is.
  TemplateFill_CL atBound;
  EXPECT_TRUE(atBound.Plan(templateText, valueOf, 5, 64000022));
  TemplateFill_CL pastBound;
  EXPECT_FALSE(pastBound.Plan(templateText, valueOf, 5, 64000021));

  // Sizes past what 64 bits count are held at the largest, not wrapped around.
  const Values huge = {Repeat("####KEYWORDS####", 3000), Repeat("####DESCRIPTION####", 3000),
                       Repeat("####SYNTAX####", 3000),   Repeat("####ROOT####", 3000),
                       Repeat("####TOC####", 3000),      Repeat("x", 3000)};
  const TemplateFill_CL::Values hugeOf = [&](int index) -> std::optional<std::string_view> {
    return huge[static_cast<std::size_t>(index)];
  };
  TemplateFill_CL tooLarge;
  EXPECT_FALSE(tooLarge.Plan(templateText, hugeOf, 5, UINT64_MAX - 1));

  // The values vanish at the end: a small page, made without the page on the way.
  const Values vanishing = {Repeat("####KEYWORDS####", 400),
                            Repeat("####DESCRIPTION####", 400),
                            Repeat("####ROOT####", 400),
                            "",
                            "",
                            ""};
  EXPECT_EQ(Fill(templateText, vanishing, "B"), "<title></title>\nB\n");
}

TEST(TemplateFill, AsksOnlyForValuesThePageHolds) {
  // The table of contents costs a walk over the headings: made only where it goes.
  std::vector<int> asked;
  const Values values = {"####ROOT####", "", "", "", ".", "toc"};
  EXPECT_EQ(Fill("####TITLE####|####BODY####", values, "b", 1 << 20, &asked), ".|b");
  EXPECT_EQ(asked, (std::vector<int>{0, 4}));
  asked.clear();
  EXPECT_EQ(Fill("####TITLE########TITLE####", {"####T", "", "", "", "", "c"}, "", 1 << 20, &asked),
            "####T####T");
  asked.clear();
  EXPECT_EQ(Fill("####TO####TITLE####", {"C####", "", "", "", "", "c"}, "", 1 << 20, &asked), "c");
  EXPECT_EQ(asked, (std::vector<int>{0, 5}));
}

}  // namespace
}  // namespace tarvix
