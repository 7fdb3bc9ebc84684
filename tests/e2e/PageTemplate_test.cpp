// The finished page: the template, its placeholders, the document header and include files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

TEST(PageTemplate, FillsPlaceholdersInOrderAndEveryOccurrence) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("site/docs"));
  dir.WriteFile("doc.md",
                "<!--\n"
                "title: T ####ROOT####\n"
                "keywords: K ####TITLE####\n"
                "description: D ####BODY####\n"
                "-->\n"
                "Body ####ROOT####\n"
                "\n"
                "```js\n"
                "x\n"
                "```\n");
  dir.WriteFile("page.html",
                "<title>####TITLE####</title>|####TITLE####\n"
                "<meta k=\"####KEYWORDS####\" d=\"####DESCRIPTION####\">\n"
                "####SYNTAX####\n"
                "<a href=\"####ROOT####/\">####ROOT####</a>\n"
                "####BODY####\n"
                "<footer>####BODY####</footer>\n");
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-t", "page.html", "-o",
                                              Native("site/docs/index.html"), "-root", "site"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // The body is inserted last and never searched; the values before it are.
  const std::string body =
      "<!--\n"
      "title: T ####ROOT####\n"
      "keywords: K ####TITLE####\n"
      "description: D ####BODY####\n"
      "--><p>Body ####ROOT####</p>\n"
      "<pre class=\"brush: js;\">x\n"
      "</pre>\n";
  EXPECT_EQ(dir.ReadFile("site/docs/index.html"),
            Lines("<title>T ..</title>|T ..\n"
                  "<meta k=\"K ####TITLE####\" d=\"D " +
                  body +
                  "\">\n"
                  "<script type=\"text/javascript\" "
                  "src=\"./SyntaxHighlighter/scripts/shCore.js\"></script>\n"
                  "<script type=\"text/javascript\" "
                  "src=\"./SyntaxHighlighter/scripts/shBrushJScript.js\"></script>\n"
                  "<script type=\"text/javascript\">SyntaxHighlighter.all();</script>\n"
                  "<a href=\"../\">..</a>\n" +
                  body + "\n<footer>" + body + "</footer>\n"));

  // On standard output the root is "." and the highlighter folder fixed.
  dir.WriteFile("short.html", "####ROOT####|####SYNTAX####");
  const RunResult s =
      RunProgram(dir.path(), {"doc.md", "-t", "short.html", "-root", "site", "-syntax", "x"});
  EXPECT_EQ(s.out, Lines(".|<script type=\"text/javascript\" "
                         "src=\"./SyntaxHighlighter/scripts/shCore.js\"></script>\n"
                         "<script type=\"text/javascript\" "
                         "src=\"./SyntaxHighlighter/scripts/shBrushJScript.js\"></script>\n"
                         "<script type=\"text/javascript\">SyntaxHighlighter.all();</script>"));
}

TEST(PageTemplate, HeaderKeysInComments) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md",
                "<!--\n"
                "TITLE : Keys ignore case\n"
                "Keywords: first\n"
                "description: a: b\n"
                "author: nobody\n"
                "-->\n"
                "\n"
                "<!-- keywords: one line -->\n");
  dir.WriteFile("page.html", "####TITLE####|####KEYWORDS####|####DESCRIPTION####\n");
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("Keys ignore case|one line|a: b\n"));

  // An empty document still fills the template; without one the page is empty.
  dir.WriteFile("empty.md", "");
  EXPECT_EQ(RunProgram(dir.path(), {"empty.md", "-t", "page.html"}).out, Lines("||\n"));
  EXPECT_EQ(RunProgram(dir.path(), {"empty.md"}).out, "");
}

TEST(PageTemplate, TemplateChoice) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("d/sub"));
  dir.WriteFile("d/doc.md", "<!--\ntemplate: sub/page.html\n-->\nHi\n\n");
  dir.WriteFile("d/sub/page.html", "SUB ####BODY####");
  dir.WriteFile("d/lost.md", "<!--\ntemplate: sub/none.html\n-->\nHi\n\n");
  dir.WriteFile("d/plain.md", "Hi\n\n");
  dir.WriteFile("top.html", "TOP ####BODY####");
  dir.WriteFile("debug.html", "DBG ####BODY####");
  std::filesystem::create_directory(dir.PathOf("folder.html"));
  const std::string body = "<!--\ntemplate: sub/page.html\n--><p>Hi</p>\n";
  const std::string lostBody = "<!--\ntemplate: sub/none.html\n--><p>Hi</p>\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    std::string err = "";
  };
  const std::string doc = Native("d/doc.md");
  const std::string plain = Native("d/plain.md");
  const std::string none = Native("d/sub/none.html");
  // The page alone on standard output; the message and the line saying why on standard
  // error.
  const Case cases[] = {
      // The document's template is found beside the document and wins over -t.
      {{doc}, "SUB " + body},
      {{doc, "-t", "top.html"}, "SUB " + body},
      {{doc, "-t", "top.html", "-dbgt", "debug.html"}, "DBG " + body},
      {{plain, "-t", "top.html"}, "TOP <p>Hi</p>\n"},
      // A template that is missing or cannot be read: the message, then the body alone.
      {{Native("d/lost.md"), "-t", "top.html"},
       lostBody,
       "Template File Not Find \"" + none + "\"\ntarvix: " + none +
           ": No such file or directory\n"},
      {{doc, "-dbgt", "missing.html"},
       body,
       "Template File Not Find \"missing.html\"\ntarvix: missing.html: No such file or "
       "directory\n"},
      {{plain, "-t", "folder.html"},
       "<p>Hi</p>\n",
       "Template File Not Find \"folder.html\"\ntarvix: folder.html: Is a directory\n"},
      {{plain, "-dbgt", "folder.html"},
       "<p>Hi</p>\n",
       "Template File Not Find \"folder.html\"\ntarvix: folder.html: Is a directory\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.path(), c.arguments);
    EXPECT_EQ(r.status, 0) << c.arguments[0] << " " << c.arguments.size();
    EXPECT_EQ(r.out, Lines(c.out)) << c.arguments[0] << " " << c.arguments.size();
    EXPECT_EQ(r.err, Lines(c.err)) << c.arguments[0] << " " << c.arguments.size();
  }
  // The document's folder as the program sees it: from the working folder, none.
  const RunResult r = RunProgram(dir.PathOf("d"), {"lost.md"});
  EXPECT_EQ(r.out, Lines(lostBody));
  EXPECT_EQ(r.err, Lines("Template File Not Find \"" + Native("sub/none.html") + "\"\ntarvix: " +
                         Native("sub/none.html") + ": No such file or directory\n"));

  if (CanMakeUnreadableFiles()) {
    const std::string locked = dir.WriteFile("locked.html", "####BODY####");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const RunResult l = RunProgram(dir.path(), {plain, "-t", "locked.html"});
    EXPECT_EQ(l.out, "<p>Hi</p>\n");
    EXPECT_EQ(l.err,
              "Template File Not Find \"locked.html\"\ntarvix: locked.html: Permission denied\n");
  }
}

TEST(PageTemplate, IncludeFiles) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("d/inc"));
  dir.WriteFile("d/doc.md",
                "<!--\n"
                "include: inc/extra.md\n"
                "keywords: from the document\n"
                "-->\n");
  // Its tags are stepped over; its own include entry is ignored, found or not.
  dir.WriteFile("d/inc/extra.md",
                "Some text <span class='x'>and</span> a <b>tag</b>\n"
                "<!--\n"
                "title: From the include\n"
                "keywords: from the include\n"
                "include: missing.md\n"
                "-->\n");
  dir.WriteFile("page.html", "####TITLE####|####KEYWORDS####\n");
  RunResult r = RunProgram(dir.path(), {Native("d/doc.md"), "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("From the include|from the document\n"));

  // A missing include is reported and the conversion goes on, once per pass.
  dir.WriteFile("d/lost.md", "<!--\ninclude: none/x.md\n-->\nHi\n\n");
  dir.WriteFile("d/lost2.md", "<!--\ninclude: none/x.md\n-->\n[a][r]\n\n[r]: u\n");
  const std::string missing = "Include File Not Find \"" + Native("d/none/x.md") +
                              "\"\ntarvix: " + Native("d/none/x.md") +
                              ": No such file or directory\n";
  r = RunProgram(dir.path(), {Native("d/lost.md"), "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("|\n"));
  EXPECT_EQ(r.err, Lines(missing));
  r = RunProgram(dir.path(), {Native("d/lost2.md"), "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("|\n"));
  EXPECT_EQ(r.err, Lines(missing + missing));
}

TEST(PageTemplate, ByteOrderMarkIsSkipped) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "\xEF\xBB\xBF# Title\n<!--\ninclude: inc.md\n-->\n");
  dir.WriteFile("inc.md", "\xEF\xBB\xBF<!--\ntitle: Marked\n-->\n");
  dir.WriteFile("page.html", "####TITLE####|####BODY####");
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("Marked|<h1 id=\"Title\">Title</h1>\n<!--\ninclude: inc.md\n-->"));
}

TEST(PageTemplate, DevicesNamedByTheDocumentAreNotRead) {
  // A document naming an endless device as its include or template made the run read for
  // ever and fill the memory; such a file holds no comments and is no template.
  if (kWindows)
    GTEST_SKIP() << "the endless device is a POSIX one";
  ScopedTempDir dir;
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.md"));
  std::filesystem::create_symlink("/dev/zero", dir.PathOf("zero.html"));
  dir.WriteFile("doc.md", "<!--\ninclude: zero.md\ntemplate: zero.html\n-->\nHi\n\n");
  const RunResult r = RunProgram(dir.path(), {"doc.md"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "<!--\ninclude: zero.md\ntemplate: zero.html\n--><p>Hi</p>\n");
  // Both are reported, with what they are.
  EXPECT_EQ(r.err,
            "Include File Not Find \"zero.md\"\ntarvix: zero.md: Is a device\n"
            "Template File Not Find \"zero.html\"\ntarvix: zero.html: Is a device\n");
}

}  // namespace
}  // namespace tarvix
