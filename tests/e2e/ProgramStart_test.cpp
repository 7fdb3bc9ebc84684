// The program's start: the usage text, and the checks that stop a run before any page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/Usage.h"

namespace tarvix {
namespace {

TEST(ProgramStart, UsageTextAndStatus255) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-?"}, {"doc.md", "-?"}, {"-ext", "-imagelink"}, {"doc.md", "-o", "out.html", "-?"}};
  for (const auto& arguments : cases) {
    const RunResult r = RunProgram(dir.path(), arguments);
    EXPECT_EQ(r.status, 255) << arguments.size();
    EXPECT_EQ(r.out, Lines(kUsage)) << arguments.size();
    EXPECT_EQ(r.err, "") << arguments.size();
  }
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"doc.md"});

  // "/?" asks for the usage text where '/' marks an option too; elsewhere it names a file.
  const RunResult r = RunProgram(dir.path(), {"/?"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, kWindows ? Lines(kUsage) : "");
  EXPECT_EQ(r.err, kWindows ? "" : "No InputFile\ntarvix: /?: No such file or directory\n");
}

TEST(ProgramStart, ArgumentsArriveWhole) {
  ScopedTempDir dir;
  // Blanks, quotes, backslashes before quotes and characters beyond ASCII all reach the
  // program as they were given, and come back in its messages as UTF-8.
  const std::string document = "d\xC3\xA9j\xC3\xA0 vu.md";
  std::ofstream(std::filesystem::path(dir.path()) / std::filesystem::path(u8"d\u00e9j\u00e0 vu.md"),
                std::ios::binary)
      << "Hi\n\n";
  const std::string odd = "\xE6\x97\xA5 \"a\\\"b\" c\\\\";
  const RunResult r = RunProgram(dir.path(), {document, "-dbgt", odd, "-imagelink"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("<p>Hi</p>\n"));
  EXPECT_EQ(r.err, Lines("Template File Not Find \"" + odd + "\"\ntarvix: " + odd +
                         ": No such file or directory\n"));
}

TEST(ProgramStart, MissingOrUnreadableFilesStopTheRun) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  std::filesystem::create_directory(dir.PathOf("folder"));
  std::filesystem::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::string noInput = "No InputFile\ntarvix: missing.md: No such file or directory\n";
  const std::string noTemplate =
      "No TemplateFile\ntarvix: missing.html: No such file or directory\n";
  const std::string folderInput = "Open Err InputFile\ntarvix: folder: Is a directory\n";
  const Case cases[] = {
      {{"missing.md"}, noInput},
      {{"missing.md", "-t", "missing.html"}, noInput},
      {{"doc.md", "-t", "missing.html"}, noTemplate},
      {{"doc.md", "-t", "missing.html", "-o", "out.html"}, noTemplate},
      // A folder exists but cannot be read as a document.
      {{"folder"}, folderInput},
      // (With an output named, a folder is a whole site: tests/e2e/Site_test.cpp.)
      {{"folder", "-o"}, folderInput},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.path(), c.arguments, options);
    const bool toFile = c.arguments.size() > 1 && c.arguments[c.arguments.size() - 2] == "-o";
    // Without -o the page would go to standard output, so the messages go to standard error.
    EXPECT_EQ(r.status, 255) << c.arguments[0] << " " << c.arguments.size();
    EXPECT_EQ(toFile ? r.out : r.err, Lines(c.message))
        << c.arguments[0] << " " << c.arguments.size();
    EXPECT_EQ(toFile ? r.err : r.out, "") << c.arguments[0] << " " << c.arguments.size();
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "folder", "tmp"}));
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});

  if (CanMakeUnreadableFiles()) {
    const std::string locked = dir.WriteFile("locked.md", "Text\n");
    std::filesystem::permissions(locked, std::filesystem::perms::none);
    const RunResult r = RunProgram(dir.path(), {"locked.md"}, options);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "Open Err InputFile\ntarvix: locked.md: Permission denied\n");
  }
}

TEST(ProgramStart, TemporaryFolderThatTakesNoFile) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  dir.WriteFile("old.html", "old page");
  const std::string notAFolder = dir.WriteFile("plain-file", "");
  for (const std::string& tmp : {dir.PathOf("missing-folder"), notAFolder}) {
    for (const char* target : {"out.html", "old.html"}) {
      RunOptions options;
      options.temporaryFolder = tmp;
      const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", target}, options);
      EXPECT_EQ(r.status, 255) << tmp;
      // The message, then the folder and why it takes no file.
      const std::string expected = "Open Err TemporaryFile\ntarvix: " + tmp + ": ";
      EXPECT_EQ(r.out.rfind(Lines(expected), 0), 0u) << r.out;
      if (!kWindows) {
        EXPECT_EQ(r.out, expected + (tmp == notAFolder ? "Not a directory\n"
                                                       : "No such file or directory\n"));
      }
    }
  }
  EXPECT_EQ(dir.ReadFile("old.html"), "old page");
  EXPECT_EQ(FolderEntries(dir.path()),
            (std::vector<std::string>{"doc.md", "old.html", "plain-file"}));
}

}  // namespace
}  // namespace tarvix
