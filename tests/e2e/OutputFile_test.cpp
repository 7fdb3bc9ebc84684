// Where the page goes: standard output or the output file through a temporary file, the
// passes that write it, and what a run that cannot write its page leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// A document that uses a reference before its definition: it takes two passes.
constexpr char kTwoPass[] = "[x][r]\n\n[r]: http://e.com/\n";
constexpr char kTwoPassPage[] = "<html><p><a href=\" http://e.com/\">x</a></p>\n<p></p>\n</html>\n";

fs::perms PermissionsOf(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

TEST(OutputFile, ForwardReferenceWritesExactlyOnePage) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", kTwoPass);
  dir.WriteFile("page.html", "<html>####BODY####</html>\n");
  RunResult r = RunProgram(dir.path(), {"doc.md", "-t", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines(kTwoPassPage));

  r = RunProgram(dir.path(), {"doc.md", "-t", "page.html", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(dir.ReadFile("out.html"), Lines(kTwoPassPage));
}

TEST(OutputFile, ExtensionOptionNamesTheOutputTheSameInEitherPass) {
  ScopedTempDir dir;
  dir.WriteFile("one.md", "Hi\n\n");
  dir.WriteFile("two.md", kTwoPass);
  dir.WriteFile("php.md", std::string("<!--\noutput_ext: .php\n-->\n") + kTwoPass);
  struct Case {
    std::vector<std::string> arguments;
    std::string written;
  };
  std::vector<Case> cases = {
      {{"one.md", "-o", "One.HTM", "-ext"}, "One.htm"},
      {{"two.md", "-o", "Two.HTM", "-ext"}, "Two.htm"},
      {{"php.md", "-o", "Php.HTM", "-EXT"}, "Php.php"},
      {{"two.md", "-o", "Plain.HTM"}, "Plain.HTM"},
      {{"one.md", "-o", "NoDot", "-ext"}, "NoDot"},
  };
  std::vector<std::string> entries = {"NoDot",   "One.htm", "Php.php", "Plain.HTM",
                                      "Two.htm", "one.md",  "php.md",  "two.md"};
  // Where '/' marks options too, "/O" and "/EXT" are the same options.
  if (kWindows) {
    cases.push_back({{"one.md", "/O", "Slash.HTM", "/EXT"}, "Slash.htm"});
    entries.push_back("Slash.htm");
    std::sort(entries.begin(), entries.end());
  }
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.path(), c.arguments);
    EXPECT_EQ(r.status, 0) << c.written;
    EXPECT_TRUE(fs::exists(dir.PathOf(c.written))) << c.written;
  }
  EXPECT_EQ(FolderEntries(dir.path()), entries);
  EXPECT_EQ(dir.ReadFile("One.htm"), Lines("<p>Hi</p>\n"));
}

TEST(OutputFile, ExistingOutputIsReplacedOnlyAtTheEnd) {
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "New\n\n");
  dir.WriteFile("out.html", "old page");
  RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "out.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(dir.ReadFile("out.html"), Lines("<p>New</p>\n"));

  // The page never replaces its own document: that would lose the source.
  dir.WriteFile("self.md", kTwoPass);
  r = RunProgram(dir.path(), {"self.md", "-o", "self.md"}, options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, Lines("OutputFile is InputFile\n"));
  EXPECT_EQ(dir.ReadFile("self.md"), kTwoPass);
  // The template is still read in full when the page replaces it.
  dir.WriteFile("page.html", "<html>####BODY####</html>\n");
  dir.WriteFile("two.md", kTwoPass);
  r = RunProgram(dir.path(), {"two.md", "-t", "page.html", "-o", "page.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.ReadFile("page.html"), Lines(kTwoPassPage));

  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "out.html", "page.html",
                                                                 "self.md", "tmp", "two.md"}));
}

TEST(OutputFile, StandardOutputCreatesNoFile) {
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  dir.WriteFile("doc.md", kTwoPass);
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  const RunResult r = RunProgram(dir.path(), {"doc.md"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("<p><a href=\" http://e.com/\">x</a></p>\n<p></p>\n"));
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "tmp"}));
}

TEST(OutputFile, FailingCommitLeavesTheTargetAndNoTemporaryFile) {
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "New\n\n");
  const std::string locked = dir.WriteFile("locked.html", "old page");
  fs::permissions(locked, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  struct Case {
    std::string target;
    std::string detail;  // the detail line after "tarvix: "
  };
  // A missing folder is named as such: the system's words named the file.
  const Case cases[] = {{"locked.html", "locked.html: Permission denied"},
                        {Native("missing/out.html"), "missing: no such folder"}};
  for (const auto& [target, detail] : cases) {
    const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", target}, options);
    EXPECT_EQ(r.status, 1) << target;
    EXPECT_EQ(r.out, "") << target;
    EXPECT_EQ(r.err, Lines("TemporaryFile rename error\ntarvix: " + detail + "\n")) << target;
    EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{}) << target;
  }
  EXPECT_EQ(dir.ReadFile("locked.html"), "old page");
  EXPECT_EQ(PermissionsOf(locked),
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "locked.html", "tmp"}));
  // Windows deletes no read-only file, not even with the test's folder.
  fs::permissions(locked, fs::perms::owner_write, fs::perm_options::add);
}

TEST(OutputFile, PublishedPageHasTheUsualPermissions) {
  if (kWindows)
    GTEST_SKIP() << "no permission bits and no umask on Windows";
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Hi\n\n");
  using fs::perms;
  RunOptions masked;
  masked.umask = 022;
  RunProgram(dir.path(), {"doc.md", "-o", "a.html"}, masked);
  EXPECT_EQ(PermissionsOf(dir.PathOf("a.html")),
            perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);
  masked.umask = 027;
  RunProgram(dir.path(), {"doc.md", "-o", "b.html"}, masked);
  EXPECT_EQ(PermissionsOf(dir.PathOf("b.html")),
            perms::owner_read | perms::owner_write | perms::group_read);
  masked.umask = 0;
  RunProgram(dir.path(), {"doc.md", "-o", "c.html"}, masked);
  EXPECT_EQ(PermissionsOf(dir.PathOf("c.html")), perms::owner_read | perms::owner_write |
                                                     perms::group_read | perms::group_write |
                                                     perms::others_read | perms::others_write);
  // A page that replaces another keeps that file's permissions.
  const std::string kept = dir.WriteFile("kept.html", "old");
  fs::permissions(kept, perms::owner_read | perms::owner_write | perms::others_read);
  masked.umask = 077;
  RunProgram(dir.path(), {"doc.md", "-o", "kept.html"}, masked);
  EXPECT_EQ(dir.ReadFile("kept.html"), "<p>Hi</p>\n");
  EXPECT_EQ(PermissionsOf(kept), perms::owner_read | perms::owner_write | perms::others_read);
}

TEST(OutputFile, UnwritableStandardOutputIsReported) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Hi\n\n");
  // Windows has no device that refuses writes, and no words for a missing handle.
  struct Case {
    StdoutMode mode;
    std::string err;
    int status;
  };
  std::vector<Case> cases = {
      {StdoutMode::kClosed,
       kWindows ? "Write Err OutputFile\n"
                : "Write Err OutputFile\ntarvix: standard output: Bad file descriptor\n",
       1}};
  if (!kWindows) {
    cases.push_back({StdoutMode::kDevFull,
                     "Write Err OutputFile\ntarvix: standard output: No space left on device\n",
                     1});
    // A reader that went away (tarvix doc.md | head) ends the run as it ends cat: by
    // SIGPIPE, without a word; it used to print "Broken pipe" and end with status 1.
    cases.push_back({StdoutMode::kBrokenPipe, "", 128 + 13});
  }
  for (const Case& c : cases) {
    RunOptions options;
    options.stdoutMode = c.mode;
    const RunResult r = RunProgram(dir.path(), {"doc.md"}, options);
    EXPECT_EQ(r.status, c.status) << c.err;
    EXPECT_EQ(r.err, Lines(c.err));
  }
  // With -o the page does not need standard output; messages meant for it never reach the
  // page, even when the output file could have taken over its descriptor.
  dir.WriteFile("lost.md", "<!--\ninclude: none.md\n-->\nHi\n\n");
  RunOptions closed;
  closed.stdoutMode = StdoutMode::kClosed;
  const RunResult r = RunProgram(dir.path(), {"lost.md", "-o", "out.html"}, closed);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.ReadFile("out.html"), Lines("<!--\ninclude: none.md\n--><p>Hi</p>\n"));
}

}  // namespace
}  // namespace tarvix
