// The program's messages: which stream they take, and the line after a message that names
// the file and says, in the system's words, what went wrong.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

TEST(Messages, PageOnStandardOutputIsAloneThere) {
  // "tarvix doc.md > page.html" put "Include File Not Find" at the top of page.html: the
  // messages went to standard output with the page.
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "<!--\ninclude: none.md\n-->\nHi\n\n");
  const std::string page = "<!--\ninclude: none.md\n--><p>Hi</p>\n";
  const std::string message =
      "Include File Not Find \"none.md\"\ntarvix: none.md: No such file or directory\n";
  RunResult r = RunProgram(dir.path(), {"doc.md", "-t", "missing.html"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, Lines("No TemplateFile\ntarvix: missing.html: No such file or directory\n"));
  r = RunProgram(dir.path(), {"doc.md"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines(page));
  EXPECT_EQ(r.err, Lines(message));
  // With -o standard output holds no page, and the messages stay where they were.
  r = RunProgram(dir.path(), {"doc.md", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines(message));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.ReadFile("out.html"), Lines(page));
}

TEST(Messages, IncludeThatIsAFolderIsReported) {
  // An include naming a folder was skipped without a word.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("inc"));
  dir.WriteFile("doc.md", "<!--\ninclude: inc\n-->\n");
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("Include File Not Find \"inc\"\ntarvix: inc: Is a directory\n"));
}

TEST(Messages, FailedCommitSaysWhy) {
  // "TemporaryFile rename error" alone covered a missing folder, a read-only target, a
  // target that is a folder and a name too long.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  fs::create_directory(dir.PathOf("folder.html"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "Hi\n\n");
  struct Case {
    std::string target;
    std::string reason;  // the POSIX words; Windows has its own for some
    std::string named;   // the path the detail line names
  };
  const Case cases[] = {
      {"folder.html", "Is a directory", "folder.html"},
      {std::string(300, 'n') + ".html", "File name too long", std::string(300, 'n') + ".html"},
      // The folder to mend, not the file that could not be made in it.
      {Native("missing/out.html"), "no such folder", "missing"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", c.target}, options);
    EXPECT_EQ(r.status, 1) << c.reason;
    EXPECT_EQ(r.out, "") << c.reason;
    const std::string expected = "TemporaryFile rename error\ntarvix: " + c.named + ": ";
    EXPECT_EQ(r.err.rfind(Lines(expected), 0), 0u) << r.err;
    if (!kWindows) {
      EXPECT_EQ(r.err, expected + c.reason + "\n");
    }
    EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{}) << c.reason;
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "folder.html", "tmp"}));
}

TEST(Messages, OutputOntoTheInputIsRefused) {
  // "tarvix a.md -o a.md" overwrote the Markdown source with HTML and exited 0.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("sub"));
  dir.WriteFile("a.md", "Source\n");
  for (const std::string& target : {std::string("a.md"), Native("sub/../a.md")}) {
    const RunResult r = RunProgram(dir.path(), {"a.md", "-o", target});
    EXPECT_EQ(r.status, 255) << target;
    EXPECT_EQ(r.out, Lines("OutputFile is InputFile\n")) << target;
  }
  EXPECT_EQ(dir.ReadFile("a.md"), "Source\n");
}

}  // namespace
}  // namespace tarvix
