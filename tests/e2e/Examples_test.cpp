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

}  // namespace
}  // namespace tarvix
