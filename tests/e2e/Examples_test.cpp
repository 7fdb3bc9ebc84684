// The bundled examples convert as the README says: every placeholder filled, no message.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

// The repository's examples folder, found from this file's own path.
std::string ExamplesFolder() {
  return (std::filesystem::path(HostPath(__FILE__)).parent_path() / ".." / ".." / "examples")
      .lexically_normal()
      .string();
}

TEST(Examples, GuideAndNotesBecomeFinishedPages) {
  const std::string examples = ExamplesFolder();
  ASSERT_TRUE(std::filesystem::exists(examples + "/guide.md")) << examples;
  ScopedTempDir dir;
  RunResult r = RunProgram(examples, {"guide.md", "-t", "page.html", "-o", dir.PathOf("guide.html"),
                                      "-root", dir.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string guide = dir.ReadFile("guide.html");
  EXPECT_EQ(guide.find("####"), std::string::npos);
  EXPECT_NE(guide.find("<title>A Tour of Tarvix</title>"), std::string::npos);
  // The keywords come from the included file.
  EXPECT_NE(guide.find("content=\"markdown, html, tarvix\""), std::string::npos);
  EXPECT_NE(guide.find("content=\"Every construct the converter knows, on one page.\""),
            std::string::npos);
  EXPECT_NE(guide.find("<a href=\"./notes.html\">"), std::string::npos);
  EXPECT_NE(guide.find("scripts/shBrushJScript.js"), std::string::npos);
  // The reference defined on the last line is resolved by the second pass.
  EXPECT_NE(guide.find("<a href=\" https://example.com/tarvix\">the project page</a>"),
            std::string::npos);

  // The notes name their template themselves.
  r = RunProgram(examples, {"notes.md", "-o", dir.PathOf("notes.html")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string notes = dir.ReadFile("notes.html");
  EXPECT_EQ(notes.find("####"), std::string::npos);
  EXPECT_NE(notes.find("<title>Notes</title>"), std::string::npos);
}

TEST(Examples, SiteBecomesAFolderOfPages) {
  const std::string examples = ExamplesFolder();
  ScopedTempDir dir;
  const RunResult r = RunProgram(examples, {"site", "-o", dir.PathOf("site")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("3 pages converted, 0 up to date, 2 files copied, 0 removed, 0 broken "
                       "links, 0 failed in "),
            std::string::npos)
      << r.err;
  EXPECT_EQ(dir.ReadFile("site/img/picture.svg"), dir.ReadFile(examples + "/site/img/picture.svg"));
  const std::string index = dir.ReadFile("site/index.html");
  EXPECT_NE(index.find("<title>An example site</title>"), std::string::npos);
  EXPECT_NE(index.find("content=\"tarvix, example site\""), std::string::npos);
  EXPECT_NE(index.find("<link rel=\"stylesheet\" href=\"./tpl/site.css\">"), std::string::npos);
  const std::string more = dir.ReadFile("site/guide/deep/more.html");
  EXPECT_NE(more.find("<a href=\"../../index.html\">Home</a>"), std::string::npos);
  EXPECT_NE(
      more.find(Lines("<aside>\n"
                      "<ul class=\"toc\">\n"
                      "<li><a href=\"#More%20detail\">More detail</a>\n"
                      "<ul>\n"
                      "<li><a href=\"#The%20table%20of%20contents\">The table of contents</a>\n"
                      "<ul>\n"
                      "<li><a href=\"#Nested%20by%20level\">Nested by level</a></li>\n"
                      "</ul>\n"
                      "</li>\n"
                      "<li><a href=\"#The%20root\">The root</a></li>\n"
                      "</ul>\n"
                      "</li>\n"
                      "</ul>\n"
                      "</aside>\n")),
      std::string::npos)
      << more;
}

}  // namespace
}  // namespace tarvix
