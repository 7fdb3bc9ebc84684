// The navigation's lists, titles and sum, and the highlighter folder made from the library.
#include "site/Navigation.h"

#include <gtest/gtest.h>

#include "site/Highlighter.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

TEST(Navigation, ListsByFolderWithIndexFirstAndTheCurrentPageMarked) {
  const std::vector<NavPage> pages = {
      {"b.html", "B"},
      {"index.html", "Home"},
      {"a/index.html", "A home"},
      {"a/x.html", "X"},
      {"a/deep/y.html", "Y &amp; Z"},
      {"c d.html", "Spaced"},
  };
  struct Case {
    std::size_t current;
    std::string expected;
  };
  const Case cases[] = {
      {1,
       "<ul>\n"
       "<li><a href=\"index.html\" aria-current=\"page\">Home</a></li>\n"
       "<li><span>a</span>\n<ul>\n"
       "<li><a href=\"a/index.html\">A home</a></li>\n"
       "<li><span>deep</span>\n<ul>\n"
       "<li><a href=\"a/deep/y.html\">Y &amp; Z</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"a/x.html\">X</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"b.html\">B</a></li>\n"
       "<li><a href=\"c%20d.html\">Spaced</a></li>\n"
       "</ul>"},
      // Two folders down, every link goes up through the top.
      {4,
       "<ul>\n"
       "<li><a href=\"../../index.html\">Home</a></li>\n"
       "<li><span>a</span>\n<ul>\n"
       "<li><a href=\"../../a/index.html\">A home</a></li>\n"
       "<li><span>deep</span>\n<ul>\n"
       "<li><a href=\"../../a/deep/y.html\" aria-current=\"page\">Y &amp; Z</a></li>\n</ul>\n"
       "</li>\n"
       "<li><a href=\"../../a/x.html\">X</a></li>\n</ul>\n</li>\n"
       "<li><a href=\"../../b.html\">B</a></li>\n"
       "<li><a href=\"../../c%20d.html\">Spaced</a></li>\n"
       "</ul>"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NavigationHtml(pages, c.current), c.expected) << c.current;
}

TEST(Navigation, LayoutKnowsTheHrefsOfEachPagesLists) {
  const std::vector<NavPage> pages = {{"index.html", "Home"}, {"a b/c.html", "C"}};
  const NavigationLayout layout(pages);
  EXPECT_EQ(layout.For(1),
            "<ul>\n<li><a href=\"../index.html\">Home</a></li>\n<li><span>a b</span>\n<ul>\n"
            "<li><a href=\"../a%20b/c.html\" aria-current=\"page\">C</a></li>\n</ul>\n</li>\n"
            "</ul>");
  EXPECT_EQ(layout.For(0), NavigationHtml(pages, 0));
  struct Case {
    std::size_t page;
    const char* link;
    bool held;
  };
  const Case cases[] = {
      {0, "index.html", true},      {0, "a%20b/c.html", true},  {1, "../a%20b/c.html", true},
      {1, "a%20b/c.html", false},   {1, "../index.html#x", false}, {0, "a b/c.html", false},
      {5, "index.html", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(layout.HoldsLink(c.page, c.link), c.held) << c.page << " " << c.link;
  EXPECT_EQ(NavigationHref("x/y/z.html", "a b/c.html"), "../../a%20b/c.html");
  EXPECT_EQ(NavigationHref("z.html", "c.html"), "c.html");
}

TEST(Navigation, TitleAndSum) {
  EXPECT_EQ(NavigationTitle("Own", "a/b.html"), "Own");
  EXPECT_EQ(NavigationTitle("", "a/b&c.html"), "b&amp;c");
  EXPECT_EQ(NavigationTitle("", "readme"), "readme");
  const std::string sum = NavigationSum({{"a.html", "A"}, {"b.html", "B"}});
  EXPECT_EQ(sum.size(), 16u);
  // Another title, another page, or the same bytes split otherwise: another sum.
  EXPECT_NE(NavigationSum({{"a.html", "A2"}, {"b.html", "B"}}), sum);
  EXPECT_NE(NavigationSum({{"a.html", "A"}, {"b.html", "B"}, {"c.html", "C"}}), sum);
  EXPECT_NE(NavigationSum({{"a.html", "AB"}, {"b.html", ""}}), NavigationSum({{"a.html", "A"},
                                                                            {"b.html", "B"}}));
  EXPECT_EQ(NavigationSum({{"a.html", "A"}, {"b.html", "B"}}), sum);
}

TEST(Navigation, GuessedTitleIsTheFirstHeadingOrTheHeaderTitle) {
  struct Case {
    std::string document;
    std::string expected;
  };
  const Case cases[] = {
      {"# Plain\n\ntext\n", "Plain"},
      {"Intro\n\n## A *marked* `head`\n", "A marked head"},
      {"Underlined\n==========\n", "Underlined"},
      {"```\n# not a heading\n```\n# After the code\n", "After the code"},
      {"<!--\ntitle: From the header\n-->\n# Heading\n", "From the header"},
      {"<!--\n# in a comment\n-->\nNo heading at all.\n", ""},
      // A guess that missed made every page with the navigation convert twice: the line
      // taken for the first heading lies in a paragraph that ends only further down, so
      // the page's first heading is a later one.
      {"[*(x)*](https://e.org/)\n\n## Highlights\n\ntext *b*\n\n## context\n", "context"},
      {"<div>\n## Inside\n</div>\n\n## After\n", "Inside"},
      {"# [Named]\n\ntext\n\n[Named]: https://example.org/\n", "[Named]"},
      {"[Named]\n======\n\n[Named]: https://example.org/\n", "[Named]"},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    dir.WriteFile("doc.md", c.document);
    EXPECT_EQ(GuessTitle(dir.PathOf("doc.md")), c.expected) << c.document;
  }
}

TEST(Highlighter, SplitsTheLibraryAndMakesOneScriptPerBrush) {
  LibraryParts parts;
  EXPECT_FALSE(SplitLibrary("var hljs = {};", &parts));
  ASSERT_TRUE(SplitLibrary("core;hljs.registerLanguage(\"a\",f);hljs.registerLanguage(\"bb\",g);",
                           &parts));
  EXPECT_EQ(parts.core, "core;");
  ASSERT_EQ(parts.languages.size(), 2u);
  EXPECT_EQ(parts.languages[0].first, "a");
  EXPECT_EQ(parts.languages[0].second, "hljs.registerLanguage(\"a\",f);");
  EXPECT_EQ(parts.languages[1].first, "bb");
  EXPECT_EQ(parts.languages[1].second, "hljs.registerLanguage(\"bb\",g);");

  // The folder the program carries: the core with the adapter, one script for each of the
  // 23 brushes that registers its language, and the colours.
  const std::vector<HighlighterFile> files = HighlighterFiles();
  ASSERT_EQ(files.size(), 25u);
  EXPECT_EQ(files.front().path, "scripts/shCore.js");
  EXPECT_NE(files.front().bytes.find("window.SyntaxHighlighter"), std::string::npos);
  EXPECT_NE(files.front().bytes.find("\"c-sharp\":\"cs\""), std::string::npos);
  EXPECT_NE(files.front().bytes.find("\"jfx\":\"java\""), std::string::npos);
  EXPECT_EQ(files.front().bytes.find("hljs.registerLanguage("), std::string::npos);
  const std::pair<std::string, std::string> brushes[] = {
      {"scripts/shBrushCpp.js", "\"cpp\""},       {"scripts/shBrushPython.js", "\"python\""},
      {"scripts/shBrushXml.js", "\"css\""},       {"scripts/shBrushVb.js", "\"vbnet\""},
      {"scripts/shBrushPlain.js", "\"plaintext\""}, {"scripts/shBrushJScript.js", "\"javascript\""},
  };
  for (const auto& [path, language] : brushes) {
    const auto found = std::find_if(files.begin(), files.end(),
                                    [&](const HighlighterFile& f) { return f.path == path; });
    ASSERT_NE(found, files.end()) << path;
    EXPECT_NE(found->bytes.find("hljs.registerLanguage(" + language), std::string::npos) << path;
  }
  for (const HighlighterFile& file : files)
    EXPECT_FALSE(file.bytes.empty()) << file.path;
  EXPECT_EQ(files.back().path, "styles/shColours.css");
  EXPECT_NE(files.back().bytes.find("prefers-color-scheme: dark"), std::string::npos);
}

}  // namespace
}  // namespace tarvix
