// The library's interfaces, C++ and C: a document in memory in, the page and the messages
// out, with every page option doing what its command-line option does.
#include "api/Library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "tarvix/tarvix.h"

namespace tarvix {

// Readable failures: the records field by field.
void PrintTo(const Header& h, std::ostream* os) {
  *os << "{title=" << h.title << " keywords=" << h.keywords << " description=" << h.description
      << " template=" << h.template_ << " outputExt=" << h.outputExt << " include=" << h.include
      << "}";
}
void PrintTo(const Message& m, std::ostream* os) {
  *os << "{kind=" << static_cast<int>(m.kind) << " path=" << m.path << " reason=" << m.reason
      << " text=" << m.text << "}";
}

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
    EXPECT_EQ(r.messages,
              (std::vector<Message>{
                  {MessageKind::IncludeMissing, dir.PathOf("gone.md"), "No such file or directory",
                   "Include File Not Find \"" + dir.PathOf("gone.md") +
                       "\"\ntarvix: " + dir.PathOf("gone.md") + ": No such file or directory"}}))
        << folder;
  }

  // A missing template is reported and the page is the body alone.
  options.baseFolder = dir.PathOf("nowhere");
  r = ConvertDocument("<!-- template: t.html -->", options);
  EXPECT_EQ(r.page, "<!-- template: t.html -->");
  const std::string missing = dir.PathOf(Native("nowhere/t.html"));
  EXPECT_EQ(
      r.messages,
      (std::vector<Message>{{MessageKind::TemplateMissing, missing, "No such file or directory",
                             "Template File Not Find \"" + missing + "\"\ntarvix: " + missing +
                                 ": No such file or directory"}}));
}

// The header as the run read it and the table of contents come with every result,
// whatever the template shows; a completed first pass and a second pass give the same.
TEST(Library, ResultCarriesHeaderAndTableOfContents) {
  ScopedTempDir dir;
  dir.WriteFile("inc.md", "<!--\nkeywords: from include\ntitle: included -->");
  const std::string toc =
      "<ul class=\"toc\">\n<li><a href=\"#A\">A</a>\n<ul>\n<li><a href=\"#B\">B</a>\n<ul>\n"
      "<li><a href=\"#C\">C</a></li>\n</ul>\n</li>\n<li><a href=\"#D\">D</a></li>\n</ul>\n"
      "</li>\n<li><a href=\"#E\">E</a></li>\n</ul>";
  struct Case {
    std::string document;
    bool base;  // relative entries start from `dir`
    Header header;
    std::string toc;
  };
  const Case cases[] = {
      {"", false, {}, ""},
      // Every key as written, a later entry winning; without a base folder no file is
      // read and include: entries are ignored.
      {"<!--\nTitle: first\ntitle:  T \nkeywords: K\ndescription: D\ntemplate: sub/t.html\n"
       "output_ext: .php\ninclude: inc.md\n-->\n# A\n### B\n#### C\n## D\n# E\n",
       false,
       {"T", "K", "D", "sub/t.html", ".php", ""},
       toc},
      // The include's entries count where the include: line stands.
      {"<!--\ntitle: own\ninclude: inc.md\n-->\n",
       true,
       {"included", "from include", "", "", "", "inc.md"},
       ""},
      {"<!--\ninclude: inc.md\ntitle: own\n-->\n",
       true,
       {"own", "from include", "", "", "", "inc.md"},
       ""},
      // Underlined headings have no id; a heading's text loses its tags, the id is its
      // source.
      {"Under\n=====\n\n# *x* &amp; y\n",
       false,
       {},
       "<ul class=\"toc\">\n<li><a href=\"#%2Ax%2A%20%26amp%3B%20y\">x &amp;amp; y</a></li>\n"
       "</ul>"},
      // A value keeps the bytes as written, NUL and ill-formed UTF-8 included.
      {std::string("<!-- title: a\0b\xff -->", 20),
       false,
       {std::string("a\0b\xff", 4), {}, {}, {}, {}, {}},
       ""},
      // A reference defined after the heading that uses it: the text as the second pass
      // writes it.
      {"# [go][r] on\n\n[r]: /u\n",
       false,
       {},
       "<ul class=\"toc\">\n<li><a href=\"#%5Bgo%5D%5Br%5D%20on\">go on</a></li>\n</ul>"},
  };
  for (const Case& c : cases) {
    PageOptions options;
    if (c.base)
      options.baseFolder = dir.path();
    // With and without a template, and one that shows the table of contents.
    for (const char* templateText : {"", "####BODY####", "<nav>####TOC####</nav>"}) {
      if (*templateText != '\0')
        options.templateText = templateText;
      const PageResult r = ConvertDocument(c.document, options);
      EXPECT_EQ(r.header, c.header) << c.document;
      EXPECT_EQ(r.tableOfContents, c.toc) << c.document;
      if (std::string_view(templateText).starts_with("<nav>")) {
        EXPECT_EQ(r.page, "<nav>" + c.toc + "</nav>") << c.document;
      }
    }
    Parser_CL parser;
    parser.ConvertSecondPassInFull();
    const PageResult full = ConvertWith(parser, c.document, options);
    EXPECT_EQ(full.header, c.header) << c.document;
    EXPECT_EQ(full.tableOfContents, c.toc) << c.document;
  }
}

// Each kind of message a conversion in memory gives, with its file and reason, through
// C++ and C alike.
TEST(Library, MessagesCarryKindPathAndReason) {
  ScopedTempDir dir;
  std::filesystem::create_directory(dir.PathOf("folder"));
  const std::string noFile = dir.PathOf("t.html");
  const std::string folder = dir.PathOf("folder");
  const std::string noInclude = dir.PathOf("i.md");
  const std::string document = "<!--\ntemplate: t.html\ninclude: folder\ninclude: i.md\n-->\n# H\n";
  PageOptions options;
  options.baseFolder = dir.path();
  options.templateText = "unused ####BODY####";
  const std::vector<Message> expected = {
      {MessageKind::IncludeMissing, folder, "Is a directory",
       "Include File Not Find \"" + folder + "\"\ntarvix: " + folder + ": Is a directory"},
      {MessageKind::IncludeMissing, noInclude, "No such file or directory",
       "Include File Not Find \"" + noInclude + "\"\ntarvix: " + noInclude +
           ": No such file or directory"},
      {MessageKind::TemplateMissing, noFile, "No such file or directory",
       "Template File Not Find \"" + noFile + "\"\ntarvix: " + noFile +
           ": No such file or directory"},
  };
  const PageResult r = ConvertDocument(document, options);
  EXPECT_EQ(r.messages, expected);
  // A missing template leaves the body alone, as the kind tells.
  EXPECT_EQ(r.page,
            "<!--\ntemplate: t.html\ninclude: folder\ninclude: i.md\n-->"
            "<h1 id=\"H\">H</h1>\n");

  tarvix_options c{};
  const std::string base = dir.path();
  c.base_folder = base.c_str();
  tarvix_result made;
  ASSERT_EQ(tarvix_convert(document.data(), document.size(), &c, &made), TARVIX_OK);
  ASSERT_EQ(made.message_count, expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(made.messages[i].kind, static_cast<int>(expected[i].kind)) << i;
    EXPECT_EQ(made.messages[i].path, expected[i].path) << i;
    EXPECT_EQ(made.messages[i].reason, expected[i].reason) << i;
    EXPECT_EQ(made.messages[i].text, expected[i].text) << i;
  }
  EXPECT_STREQ(made.header.template_, "t.html");
  EXPECT_STREQ(made.header.include, "i.md");
  EXPECT_STREQ(made.header.title, "");
  EXPECT_EQ(std::string(made.toc, made.toc_size),
            "<ul class=\"toc\">\n<li><a href=\"#H\">H</a></li>\n</ul>");
  tarvix_free(&made);
  EXPECT_EQ(made.toc, nullptr);
  EXPECT_EQ(made.header.title, nullptr);
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
  ASSERT_EQ(r.message_count, 1u);
  EXPECT_EQ(r.messages[0].kind, TARVIX_MESSAGE_INCLUDE_MISSING);
  EXPECT_EQ(r.messages[0].path, dir.PathOf("x.md"));
  EXPECT_STREQ(r.messages[0].reason, "No such file or directory");
  EXPECT_EQ(r.messages[0].text, "Include File Not Find \"" + dir.PathOf("x.md") + "\"\ntarvix: " +
                                    dir.PathOf("x.md") + ": No such file or directory");
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
  EXPECT_STREQ(tarvix_version(), "0.1.0");
  EXPECT_EQ(tarvix_version_number(), 100);
}

}  // namespace
}  // namespace tarvix
