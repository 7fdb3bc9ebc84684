// The site run's navigation, the highlighter folder it writes beside the pages, and the
// starter site of -new, through the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNavTemplate = "<title>####TITLE####</title>\n####NAV####\n####BODY####";

// A site of pages at three depths whose titles come from each source: the header, the first
// heading, the file name.
void WriteNavSite(const ScopedTempDir& dir) {
  fs::create_directories(dir.PathOf("site/guide/deep"));
  dir.WriteFile("site/nav.html", kNavTemplate);
  dir.WriteFile("site/index.md", "<!--\ntitle: Home\ntemplate: nav.html\n-->\n# Welcome\n");
  dir.WriteFile("site/guide/start.md", "<!--\ntemplate: ../nav.html\n-->\n# Getting *started*\n");
  dir.WriteFile("site/guide/deep/notes.md", "<!--\ntemplate: ../../nav.html\n-->\nNo heading.\n");
  dir.WriteFile("site/plain.md", "# Without the navigation\n");
}

TEST(SiteNavigation, ListsEveryPageFromEachPage) {
  ScopedTempDir dir;
  WriteNavSite(dir);
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).broken, 0);
  struct Case {
    std::string page;
    std::string expected;
  };
  const Case cases[] = {
      {"out/index.html",
       "<ul>\n<li><a href=\"index.html\" aria-current=\"page\">Home</a></li>\n"
       "<li><span>guide</span>\n<ul>\n<li><span>deep</span>\n<ul>\n"
       "<li><a href=\"guide/deep/notes.html\">notes</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"guide/start.html\">Getting started</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"plain.html\">Without the navigation</a></li>\n</ul>\n"},
      {"out/guide/deep/notes.html",
       "<ul>\n<li><a href=\"../../index.html\">Home</a></li>\n"
       "<li><span>guide</span>\n<ul>\n<li><span>deep</span>\n<ul>\n"
       "<li><a href=\"../../guide/deep/notes.html\" aria-current=\"page\">notes</a></li>\n"
       "</ul>\n</li>\n"
       "<li><a href=\"../../guide/start.html\">Getting started</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"../../plain.html\">Without the navigation</a></li>\n</ul>\n"},
  };
  for (const Case& c : cases) {
    // On Windows a page's lines end in CR LF, as a single run's do.
    std::string page = dir.ReadFile(c.page);
    std::erase(page, '\r');
    EXPECT_NE(page.find(c.expected), std::string::npos) << c.page << "\n" << page;
  }
  EXPECT_NE(dir.ReadFile("out/guide/start.html")
                .find("<a href=\"../guide/start.html\" aria-current=\"page\">Getting started</a>"),
            std::string::npos);
  // A single run has no site: the placeholder is left empty.
  const RunResult single =
      RunProgram(dir.path(), {"site/index.md", "-o", dir.PathOf("single.html")});
  EXPECT_EQ(single.status, 0);
  EXPECT_EQ(dir.ReadFile("single.html").find("<ul>"), std::string::npos);
  EXPECT_EQ(dir.ReadFile("single.html").find("####NAV####"), std::string::npos);
}

TEST(SiteNavigation, RetitledPageConvertsEveryPageWithTheNavigation) {
  ScopedTempDir dir;
  WriteNavSite(dir);
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  struct Step {
    const char* what;
    const char* file;
    const char* text;
    int converted;
  };
  const Step steps[] = {
      {"nothing changed", nullptr, nullptr, 0},
      // The body changes, the title does not: only that page.
      {"body edited", "site/guide/start.md",
       "<!--\ntemplate: ../nav.html\n-->\n# Getting *started*\n\nMore text here.\n", 1},
      // A new title: the page itself (which holds no navigation) and the three that do.
      {"retitled", "site/plain.md", "# A new name for it\n", 4},
      // A title the guess cannot see (set after the first heading): found once made.
      {"late title", "site/guide/deep/notes.md",
       "<!--\ntemplate: ../../nav.html\n-->\n# Notes\n\n<!--\ntitle: Late\n-->\n", 3},
      {"page added", "site/guide/more.md", "# More\n", 4},
  };
  for (const Step& step : steps) {
    if (step.file)
      dir.WriteFile(step.file, step.text);
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SummaryOf(r.err).converted, step.converted) << step.what << "\n" << r.err;
  }
  EXPECT_NE(dir.ReadFile("out/index.html").find(">Late</a>"), std::string::npos);
  EXPECT_NE(dir.ReadFile("out/guide/deep/notes.html").find(">A new name for it</a>"),
            std::string::npos);
  EXPECT_NE(dir.ReadFile("out/index.html").find("href=\"guide/more.html\">More</a>"),
            std::string::npos);
}

// The navigation's links were scanned and recorded in every page that holds them: a site
// of N pages kept N*N links in its state, and its first run took several times as long.
TEST(SiteNavigation, ListsAreCheckedOnceAndAMissingPageIsSaidForEachPageHoldingThem) {
  ScopedTempDir dir;
  WriteNavSite(dir);
  // The body links to a page the navigation lists too: one line for it, not two.
  dir.WriteFile("site/index.md",
                "<!--\ntitle: Home\ntemplate: nav.html\n-->\n# Welcome\n\n[p](plain.html)\n");
  // A link in the page's place: the page is not written, so each list's link to it breaks.
  fs::create_directories(dir.PathOf("out"));
  std::error_code error;
  fs::create_symlink("nowhere", dir.PathOf("out/plain.html"), error);
  if (error)
    GTEST_SKIP() << "links cannot be made here (wine makes none)";
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).broken, 3) << r.err;
  for (const char* line : {"site/index.md: broken link \"plain.html\" (no such file)\n",
                           "site/guide/start.md: broken link \"../plain.html\" (no such file)\n",
                           "site/guide/deep/notes.md: broken link \"../../plain.html\" (no such "
                           "file)\n"}) {
    const std::size_t at = r.err.find(line);
    EXPECT_NE(at, std::string::npos) << line << r.err;
    EXPECT_EQ(r.err.find(line, at + 1), std::string::npos) << line << r.err;
  }
  // The state keeps no page's copy of the lists.
  const std::string state = dir.ReadFile("out/.ht-tarvix-site");
  for (std::size_t at = state.find("\nlinks\t"); at != std::string::npos;
       at = state.find("\nlinks\t", at + 1)) {
    const std::string line = state.substr(at + 1, state.find('\n', at + 1) - at - 1);
    EXPECT_EQ(line.find("notes.html"), std::string::npos) << line;
  }
  // With the page written, the lists' links are whole again.
  fs::remove(dir.PathOf("out/plain.html"));
  const RunResult again = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(SummaryOf(again.err).broken, 0) << again.err;
}

TEST(SiteHighlighter, WrittenKeptAndRemovedWithTheBrushes) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/sub"));
  dir.WriteFile("site/code.md", "```cpp\nint a;\n```\n");
  dir.WriteFile("site/sub/text.md", "Text.\n");
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The core, the colours and the one brush's script, beside the page that uses it only.
  EXPECT_EQ(SummaryOf(r.err).copied, 3);
  EXPECT_EQ(SummaryOf(r.err).broken, 0);
  EXPECT_NE(dir.ReadFile("out/SyntaxHighlighter/scripts/shCore.js").find("SyntaxHighlighter"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir.PathOf("out/SyntaxHighlighter/scripts/shBrushCpp.js")));
  EXPECT_FALSE(fs::exists(dir.PathOf("out/SyntaxHighlighter/scripts/shBrushPython.js")));
  EXPECT_FALSE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter")));

  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("out/SyntaxHighlighter/styles/shColours.css")));

  // A brush in the subfolder's page: a folder there too.
  dir.WriteFile("site/sub/text.md", "```py\nx = 1\n```\n");
  r = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  EXPECT_EQ(SummaryOf(r.err).copied, 3) << r.err;
  EXPECT_EQ(SummaryOf(r.err).broken, 0);
  EXPECT_TRUE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter/scripts/shBrushPython.js")));

  // A second page of the folder with another brush adds its script; once no page of the
  // folder uses a brush, its script goes and the others stay.
  dir.WriteFile("site/sub/more.md", "```bash\nls\n```\n");
  r = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  EXPECT_EQ(SummaryOf(r.err).copied, 1) << r.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter/scripts/shBrushBash.js")));
  dir.WriteFile("site/sub/more.md", "No code.\n");
  r = RunProgram(dir.path(), {"site", "-o", "out", "-strict"});
  EXPECT_EQ(SummaryOf(r.err).removed, 1) << r.err;
  EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;
  EXPECT_FALSE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter/scripts/shBrushBash.js")));
  EXPECT_TRUE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter/scripts/shBrushPython.js")));

  // No brush any more: removed like any output, its folders with it.
  dir.WriteFile("site/code.md", "No code.\n");
  dir.WriteFile("site/sub/text.md", "No code either.\n");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  // Three files and three folders of each.
  EXPECT_EQ(SummaryOf(r.err).removed, 12) << r.err;
  EXPECT_FALSE(fs::exists(dir.PathOf("out/SyntaxHighlighter")));
  EXPECT_FALSE(fs::exists(dir.PathOf("out/sub/SyntaxHighlighter")));
}

// A rerun takes the highlighter's files its records say it wrote, not every file in every
// folder: those files are still looked after one by one, and a folder of pages that keeps
// using no brush gets none.
TEST(SiteHighlighter, RerunLooksAfterWhatItWroteAndAddsWhatAnEditNeeds) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/a"));
  fs::create_directories(dir.PathOf("site/b"));
  dir.WriteFile("site/a/code.md", "```cpp\nint a;\n```\n");
  dir.WriteFile("site/a/text.md", "Text.\n");
  dir.WriteFile("site/b/text.md", "Text.\n");
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  ASSERT_EQ(SummaryOf(r.err).copied, 3) << r.err;

  // A file removed by hand in a folder whose pages did not change is written again; one
  // changed by hand is replaced; nothing else is copied.
  fs::remove(dir.PathOf("out/a/SyntaxHighlighter/scripts/shBrushCpp.js"));
  dir.WriteFile("out/a/SyntaxHighlighter/styles/shColours.css", "mine");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).copied, 2) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, 3) << r.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("out/a/SyntaxHighlighter/scripts/shBrushCpp.js")));
  EXPECT_NE(dir.ReadFile("out/a/SyntaxHighlighter/styles/shColours.css"), "mine");
  EXPECT_FALSE(fs::exists(dir.PathOf("out/b/SyntaxHighlighter")));

  // A page of the same folder now loads another brush: only its script is added.
  dir.WriteFile("site/a/text.md", "```py\nx = 1\n```\n");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).copied, 1) << r.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("out/a/SyntaxHighlighter/scripts/shBrushPython.js")));
  // The folder's pages changed in the run before; an unchanged run copies nothing.
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).removed, 0) << r.err;

  // A link put where a written script was is not followed, and its target stays as it is.
  dir.WriteFile("elsewhere.js", "theirs");
  fs::remove(dir.PathOf("out/a/SyntaxHighlighter/scripts/shCore.js"));
  std::error_code error;
  fs::create_symlink(dir.PathOf("elsewhere.js"),
                     dir.PathOf("out/a/SyntaxHighlighter/scripts/shCore.js"), error);
  if (error)
    GTEST_SKIP() << "links cannot be made here (wine makes none)";
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("shCore.js: not written, a link"), std::string::npos) << r.err;
  EXPECT_EQ(dir.ReadFile("elsewhere.js"), "theirs");
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("out/a/SyntaxHighlighter/scripts/shCore.js")));
}

TEST(SiteHighlighter, OptionsAndTheInputsOwnFolderWriteNone) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site"));
  dir.WriteFile("site/code.md", "```cpp\nint a;\n```\n");
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out", "-nohighlighter"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).copied, 0);
  EXPECT_FALSE(fs::exists(dir.PathOf("out/SyntaxHighlighter")));

  fs::create_directories(dir.PathOf("elsewhere"));
  r = RunProgram(dir.path(), {"site", "-o", "out2", "-syntax", "elsewhere"});
  EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;

  // The input's own folder is copied as it is.
  fs::create_directories(dir.PathOf("site/SyntaxHighlighter/scripts"));
  dir.WriteFile("site/SyntaxHighlighter/scripts/shCore.js", "// mine\n");
  r = RunProgram(dir.path(), {"site", "-o", "out3"});
  EXPECT_EQ(SummaryOf(r.err).copied, 1) << r.err;
  EXPECT_EQ(dir.ReadFile("out3/SyntaxHighlighter/scripts/shCore.js"), "// mine\n");

  // A file of that name in a folder of pages is the input's too, on a rerun as on the
  // first run; the folder beside it without one gets the program's.
  fs::create_directories(dir.PathOf("site/sub"));
  fs::create_directories(dir.PathOf("site/other"));
  dir.WriteFile("site/sub/code.md", "```cpp\nint b;\n```\n");
  dir.WriteFile("site/sub/SyntaxHighlighter", "a file of mine");
  dir.WriteFile("site/other/code.md", "```cpp\nint c;\n```\n");
  for (int run = 0; run < 2; ++run) {
    r = RunProgram(dir.path(), {"site", "-o", "out4"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SummaryOf(r.err).copied, run == 0 ? 5 : 0) << r.err;
    EXPECT_EQ(dir.ReadFile("out4/sub/SyntaxHighlighter"), "a file of mine");
    EXPECT_TRUE(fs::exists(dir.PathOf("out4/other/SyntaxHighlighter/scripts/shBrushCpp.js")));
  }
}

TEST(Starter, NewSiteBuildsWithoutBrokenLinksAndRefusesAFullFolder) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("full"));
  dir.WriteFile("full/mine.txt", "keep");
  RunResult r = RunProgram(dir.path(), {"full", "-new"});
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("not empty, nothing written"), std::string::npos) << r.err;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.PathOf("full")), fs::directory_iterator()),
            1);

  r = RunProgram(dir.path(), {"fresh", "-new"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("tarvix fresh -o fresh-site"), std::string::npos) << r.out;
  for (const char* file : {"fresh/index.md", "fresh/guide/writing.md", "fresh/template.html",
                           "fresh/style.css", "fresh/SyntaxHighlighter/scripts/shCore.js"})
    EXPECT_TRUE(fs::exists(dir.PathOf(file))) << file;
  const std::string templateText = dir.ReadFile("fresh/template.html");
  for (const char* placeholder : {"####TITLE####", "####KEYWORDS####", "####DESCRIPTION####",
                                  "####ROOT####", "####SYNTAX####", "####TOC####", "####NAV####",
                                  "####BODY####"})
    EXPECT_NE(templateText.find(placeholder), std::string::npos) << placeholder;

  r = RunProgram(dir.path(), {"fresh", "-o", "fresh-site", "-strict"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).broken, 0);
  const std::string page = dir.ReadFile("fresh-site/guide/writing.html");
  EXPECT_NE(page.find("aria-current=\"page\""), std::string::npos);
  EXPECT_NE(page.find("shBrushPython.js"), std::string::npos);
  EXPECT_EQ(page.find("####"), std::string::npos);
}

}  // namespace
}  // namespace tarvix
