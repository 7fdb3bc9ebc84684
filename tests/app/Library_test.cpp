// The library's interfaces, C++ and C: a document in memory in, the page and the messages
// out, with every page option doing what its command-line option does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "tarvix/tarvix.h"

namespace tarvix {
namespace {

TEST(Library, PageOptionsFillThePage) {
  const char* document = "<!--\ntitle: T\n-->\n![a](p.png) and\n\n```js\nx\n```\n";
  PageResult r = ConvertDocument(document);
  EXPECT_EQ(r.page,
            "<!--\ntitle: T\n--><p><img src=\"p.png\" alt=\"a\" /> and</p>\n"
            "<pre class=\"brush: js;\">x\n</pre>\n");
  EXPECT_TRUE(r.messages.empty());

  PageOptions options;
  options.templateText = "[####TITLE####|####ROOT####|####SYNTAX####]";
  options.rootRel = "../..";
  options.syntaxDir = "lib/sh";
  r = ConvertDocument("<!-- title: T -->\n```js\nx\n```\n", options);
  EXPECT_EQ(r.page,
            "[T|../..|<script type=\"text/javascript\" src=\"lib/sh/scripts/shCore.js\"></script>\n"
            "<script type=\"text/javascript\" src=\"lib/sh/scripts/shBrushJScript.js\"></script>\n"
            "<script type=\"text/javascript\">SyntaxHighlighter.all();</script>]");

  options = {};
  options.imageLink = true;
  EXPECT_EQ(
      ConvertDocument("![a](p.png)", options).page,
      "<p><a href=\"p.png\" alt=\"a\" target=\"_blank\"><img src=\"p.png\" alt=\"a\" /></a></p>\n");
  // An empty template and an empty document are pages too.
  options.templateText = "";
  EXPECT_EQ(ConvertDocument("# x", options).page, "");
  EXPECT_EQ(ConvertDocument("").page, "");
  EXPECT_STREQ(Version(), "0.1.0");
}

TEST(Library, BaseFolderDecidesTemplateAndIncludeEntries) {
  ScopedTempDir dir;
  dir.WriteFile("page.html", "<h>####KEYWORDS####</h>####BODY####");
  dir.WriteFile("inc.md", "<!-- keywords: K -->");
  const std::string document =
      "<!--\ntemplate: page.html\ninclude: inc.md\ninclude: gone.md\n-->\nx\n";
  const std::string body =
      "<!--\ntemplate: page.html\ninclude: inc.md\ninclude: gone.md\n--><p>x </p>\n";

  // Without a base folder no file is read, whatever the entries name.
  PageOptions options;
  options.templateText = "(####KEYWORDS####)####BODY####";
  PageResult r = ConvertDocument(document, options);
  EXPECT_EQ(r.page, "()" + body);
  EXPECT_TRUE(r.messages.empty());

  // With one, the entries are read from it (a trailing separator changes nothing) and the
  // document's template wins over the given one.
  for (const std::string& folder : {dir.path(), dir.path() + Native("/")}) {
    options.baseFolder = folder;
    r = ConvertDocument(document, options);
    EXPECT_EQ(r.page, "<h>K</h>" + body) << folder;
    // Each message about a file is followed by the line that says why.
    EXPECT_EQ(r.messages, (std::vector<std::string>{
                              "Include File Not Find \"" + dir.PathOf("gone.md") + "\"",
                              "tarvix: " + dir.PathOf("gone.md") + ": No such file or directory"}))
        << folder;
  }

  // A missing template is reported and the page is the body alone.
  options.baseFolder = dir.PathOf("nowhere");
  r = ConvertDocument("<!-- template: t.html -->", options);
  EXPECT_EQ(r.page, "<!-- template: t.html -->");
  const std::string missing = dir.PathOf(Native("nowhere/t.html"));
  EXPECT_EQ(r.messages,
            (std::vector<std::string>{"Template File Not Find \"" + missing + "\"",
                                      "tarvix: " + missing + ": No such file or directory"}));
}

TEST(Library, CInterfaceConvertsAndFrees) {
  tarvix_result r;
  // No options at all: the defaults.
  ASSERT_EQ(tarvix_convert("*a*\n", 4, nullptr, &r), TARVIX_OK);
  EXPECT_EQ(std::string(r.page, r.page_size), "<p><em>a</em> </p>\n");
  EXPECT_EQ(r.page[r.page_size], '\0');
  EXPECT_EQ(r.message_count, 0u);
  tarvix_free(&r);
  EXPECT_EQ(r.page, nullptr);
  EXPECT_EQ(r.page_size, 0u);

  // The template has its own size, so it may hold a NUL; the document is taken by size.
  ScopedTempDir dir;
  const char templateText[] = "####ROOT####\0|####BODY####";
  tarvix_options options{};
  options.template_text = templateText;
  options.template_size = sizeof templateText - 1;
  options.image_link = 1;
  options.root_rel = "..";
  const std::string base = dir.path();
  options.base_folder = base.c_str();
  const char document[] = "![i](p.png)<!-- include: x.md -->IGNORED";
  ASSERT_EQ(tarvix_convert(document, sizeof document - 1 - 7, &options, &r), TARVIX_OK);
  EXPECT_EQ(std::string(r.page, r.page_size),
            std::string("..") + '\0' +
                "|<p><a href=\"p.png\" alt=\"i\" target=\"_blank\"><img src=\"p.png\" alt=\"i\" "
                "/></a><!-- include: x.md --></p>\n");
  ASSERT_EQ(r.message_count, 2u);
  EXPECT_STREQ(r.messages[0], ("Include File Not Find \"" + dir.PathOf("x.md") + "\"").c_str());
  EXPECT_STREQ(r.messages[1],
               ("tarvix: " + dir.PathOf("x.md") + ": No such file or directory").c_str());
  tarvix_free(&r);
  EXPECT_EQ(r.messages, nullptr);
  EXPECT_EQ(r.message_count, 0u);
  tarvix_free(&r);  // freeing an empty result again is harmless
  tarvix_free(nullptr);

  // Wrong arguments leave an empty result.
  EXPECT_EQ(tarvix_convert(nullptr, 0, nullptr, &r), TARVIX_OK);
  EXPECT_EQ(std::string(r.page, r.page_size), "");
  tarvix_free(&r);
  EXPECT_EQ(tarvix_convert(nullptr, 5, nullptr, &r), TARVIX_ERROR_ARGUMENT);
  EXPECT_EQ(r.page, nullptr);
  EXPECT_EQ(tarvix_convert("x", 1, nullptr, nullptr), TARVIX_ERROR_ARGUMENT);
  EXPECT_STREQ(tarvix_version(), TARVIX_VERSION);
}

}  // namespace
}  // namespace tarvix
