// Pages a document cannot push past their bounds: a page larger than the bound is refused
// with the target untouched, and output_ext names a file beside the output and nowhere
// else, in a single run and in a site run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Convert.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// Header values full of the placeholders after them: the page holds n * n * n roots.
std::string Bomb(std::size_t n) {
  return "<!--\ntitle: " + Repeat("####KEYWORDS####", n) +
         "\nkeywords: " + Repeat("####DESCRIPTION####", n) +
         "\ndescription: " + Repeat("####ROOT####", n) + "\n-->\n# Hi\n";
}

TEST(PageBounds, PagePastTheBoundIsRefusedAndTheTargetStays) {
  // A 61 KB document made a page of 2.2 GB, and took more than 4 GB of memory to build it.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  dir.WriteFile("bomb.md", Bomb(1300));
  dir.WriteFile("t.html", "<title>####TITLE####</title>\n####BODY####\n");
  dir.WriteFile("out.html", "old page");
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  for (const char* output : {"out.html", ""}) {
    std::vector<std::string> arguments = {"bomb.md", "-t", "t.html"};
    if (*output != '\0')
      arguments.insert(arguments.end(), {"-o", output});
    const RunResult r = RunProgram(dir.path(), arguments, options);
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err, Lines("Page too large\n")) << output;
    EXPECT_EQ(r.out, "") << output;
  }
  EXPECT_EQ(dir.ReadFile("out.html"), "old page");
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});

  // At a size the bound holds, the page is what filling in order gives.
  dir.WriteFile("bomb.md", Bomb(30));
  const RunResult r = RunProgram(dir.path(), {"bomb.md", "-t", "t.html", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(dir.ReadFile("out.html"),
            Lines("<title>" + std::string(27000, '.') + "</title>\n" +
                  Bomb(30).substr(0, Bomb(30).size() - 6) + "<h1 id=\"Hi\">Hi</h1>\n\n"));

  // A site run counts such a page as failed and converts the others.
  fs::create_directories(dir.PathOf("site"));
  dir.WriteFile(Native("site/bomb.md"), "<!-- template: ../t.html -->\n" + Bomb(1300));
  dir.WriteFile(Native("site/fine.md"), "Fine\n");
  const RunResult site = RunProgram(dir.path(), {"site", "-o", "out", "-j", "1"});
  EXPECT_EQ(site.status, 1);
  EXPECT_NE(site.err.find(Native("site/bomb.md") + ": Page too large"), std::string::npos)
      << site.err;
  EXPECT_NE(site.err.find("1 failed"), std::string::npos) << site.err;
  EXPECT_FALSE(fs::exists(dir.PathOf(Native("out/bomb.html"))));
  EXPECT_EQ(dir.ReadFile(Native("out/fine.html")), Lines("<p>Fine </p>\n"));
}

TEST(PageBounds, OutputExtThatIsNoExtensionIsIgnored) {
  // "output_ext: /../../escaped.html" with -ext wrote the page outside the output folder.
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf(Native("a/b/out")));
  struct Case {
    std::string value;  // as written in the header
    std::string shown;  // as the message shows it
  };
  const Case cases[] = {
      {"/../../escaped.html", "/../../escaped.html"},
      {"../escaped.html", "../escaped.html"},
      {".x/../../escaped", ".x/../../escaped"},
      // A backslash escapes the next byte in the document: two make one.
      {".x\\\\..\\\\..\\\\escaped", ".x\\..\\..\\escaped"},
      {".c:stream", ".c:stream"},
      {"..", ".."},
      {".", "."},
      {"html", "html"},
      {"." + std::string(33, 'a'), "." + std::string(33, 'a')},
      {".a\x01z", ".a?z"},
      {".a\x1b[2Jz", ".a?[2Jz"},
  };
  for (const Case& c : cases) {
    dir.WriteFile(Native("a/b/doc.md"), "<!--\noutput_ext: " + c.value + "\n-->\nx\n");
    const RunResult r =
        RunProgram(dir.path(), {Native("a/b/doc.md"), "-o", Native("a/b/out/page.HTM"), "-ext"});
    EXPECT_EQ(r.status, 0) << c.shown;
    EXPECT_EQ(r.out, Lines("Bad output_ext \"" + c.shown + "\" (ignored)\n")) << c.shown;
    EXPECT_EQ(r.err, "") << c.shown;
    // The output file's own extension applies, as when the document names none.
    EXPECT_EQ(FolderEntries(dir.PathOf(Native("a/b/out"))), std::vector<std::string>{"page.htm"})
        << c.shown;
    fs::remove(dir.PathOf(Native("a/b/out/page.htm")));
  }
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"a"});
  EXPECT_EQ(FolderEntries(dir.PathOf("a")), std::vector<std::string>{"b"});
  EXPECT_EQ(FolderEntries(dir.PathOf(Native("a/b"))), (std::vector<std::string>{"doc.md", "out"}));

  // An extension of up to 32 bytes is used; without -ext a bad one is not worth a word.
  dir.WriteFile(Native("a/b/doc.md"), "<!--\noutput_ext: ." + std::string(32, 'a') + "\n-->\nx\n");
  RunResult r =
      RunProgram(dir.path(), {Native("a/b/doc.md"), "-o", Native("a/b/out/page.htm"), "-ext"});
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(fs::exists(dir.PathOf(Native("a/b/out/page.") + std::string(32, 'a'))));
  dir.WriteFile(Native("a/b/doc.md"), "<!--\noutput_ext: ../x.html\n-->\nx\n");
  r = RunProgram(dir.path(), {Native("a/b/doc.md"), "-o", Native("a/b/out/plain.htm")});
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(fs::exists(dir.PathOf(Native("a/b/out/plain.htm"))));

  // A site run writes the page inside OUT with its own extension.
  fs::create_directories(dir.PathOf("site"));
  dir.WriteFile(Native("site/doc.md"), "<!--\noutput_ext: /../../escaped.html\n-->\nx\n");
  r = RunProgram(dir.path(), {"site", "-o", Native("a/b/site"), "-ext"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            Lines(Native("site/doc.md") + ": Bad output_ext \"/../../escaped.html\" (ignored)\n"));
  EXPECT_TRUE(fs::exists(dir.PathOf(Native("a/b/site/doc.html"))));
  EXPECT_EQ(FolderEntries(dir.PathOf("a")), std::vector<std::string>{"b"});
  EXPECT_EQ(FolderEntries(dir.PathOf(Native("a/b"))),
            (std::vector<std::string>{"doc.md", "out", "site"}));
}

}  // namespace
}  // namespace tarvix
