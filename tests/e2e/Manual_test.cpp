// The manual in doc/: a site of the program's own Markdown. Its page on the dialect shows
// inputs beside the pages they give, and those must be what the program writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"

namespace tarvix {
namespace {

// The repository's folder, where doc/ is.
std::string RepositoryFolder() {
  return (std::filesystem::path(HostPath(__FILE__)).parent_path() / ".." / "..").string();
}

struct Example {
  std::string input;
  std::string page;
};

// Each fenced markdown block followed by a fenced html block, in the page's order.
std::vector<Example> ExamplesOf(const std::string& text) {
  constexpr std::string_view kInput = "```markdown\n";
  constexpr std::string_view kPage = "```html\n";
  constexpr std::string_view kEnd = "\n```\n";
  std::vector<Example> examples;
  std::size_t at = 0;
  while ((at = text.find(kInput, at)) != std::string::npos) {
    const std::size_t inputEnd = text.find(kEnd, at + kInput.size());
    if (inputEnd == std::string::npos)
      break;
    const std::size_t page = text.find(kPage, inputEnd);
    const std::size_t pageEnd = page == std::string::npos ? page : text.find(kEnd, page);
    if (pageEnd == std::string::npos)
      break;
    examples.push_back({text.substr(at + kInput.size(), inputEnd - at - kInput.size()) + "\n",
                        text.substr(page + kPage.size(), pageEnd - page - kPage.size())});
    at = pageEnd;
  }
  return examples;
}

std::string WithoutFinalLineEnds(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  return text;
}

TEST(Manual, EveryDialectExampleGivesThePageItShows) {
  const std::string text = FileBytes(RepositoryFolder() + "/doc/markdown.md");
  const std::vector<Example> examples = ExamplesOf(text);
  // One example at least for each surprise the page lists.
  ASSERT_GE(examples.size(), 14u);
  ScopedTempDir dir;
  for (const Example& example : examples) {
    RunOptions options;
    options.standardInput = dir.WriteFile("input.md", example.input);
    const RunResult r = RunProgram(dir.path(), {"-"}, options);
    EXPECT_EQ(r.status, 0) << example.input;
    EXPECT_EQ(r.err, "") << example.input;
    EXPECT_EQ(WithoutFinalLineEnds(r.out), WithoutFinalLineEnds(Lines(example.page)))
        << example.input;
  }
}

TEST(Manual, BuildsAsASiteWithEveryLinkWhole) {
  ScopedTempDir dir;
  const RunResult r =
      RunProgram(RepositoryFolder(), {"doc", "-o", dir.PathOf("manual"), "-strict"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Summary summary = SummaryOf(r.err);
  EXPECT_GE(summary.converted, 8) << r.err;
  EXPECT_EQ(summary.broken, 0) << r.err;
  EXPECT_EQ(summary.failed, 0) << r.err;
  // The template is a source, not a page of the manual.
  EXPECT_FALSE(std::filesystem::exists(dir.PathOf(Native("manual/tpl/page.html"))));
  EXPECT_TRUE(std::filesystem::exists(dir.PathOf(Native("manual/markdown.html"))));
  // The navigation is the site's own, with the page itself marked, and the code is coloured.
  const std::string page = FileBytes(dir.PathOf(Native("manual/site-run.html")));
  EXPECT_NE(page.find("<li><a href=\"site-run.html\" aria-current=\"page\">"), std::string::npos)
      << page;
  EXPECT_NE(page.find("<li><a href=\"library.html\">"), std::string::npos) << page;
  EXPECT_TRUE(std::filesystem::exists(
      dir.PathOf(Native("manual/SyntaxHighlighter/scripts/shCore.js"))));
}

// The manual is the starter site's first showcase: it wears the starter's template as it
// is, and the starter's style sheet with the manual's own rules after it. A change to the
// starter that is not made to the manual (or the other way) fails here.
TEST(Manual, WearsTheStarterSitesTemplateAndStyle) {
  const std::string root = RepositoryFolder();
  EXPECT_EQ(FileBytes(root + "/doc/tpl/page.html"),
            FileBytes(root + "/examples/starter/template.html"));
  const std::string starterStyle = FileBytes(root + "/examples/starter/style.css");
  const std::string manualStyle = FileBytes(root + "/doc/style.css");
  ASSERT_FALSE(starterStyle.empty());
  EXPECT_EQ(manualStyle.compare(0, starterStyle.size(), starterStyle), 0)
      << "doc/style.css does not begin with the starter's style sheet";
}

}  // namespace
}  // namespace tarvix
