// The conventions beside the original options: '-' reads the document from standard
// input, --version and --help answer at once, and an unknown option is reported before it
// is ignored.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/Usage.h"

namespace tarvix {
namespace {

constexpr char kHelpLines[] =
    "    -root      Site Root Folder (default: the Output File's Folder)\n"
    "    -j N       convert N pages at once in a site run\n"
    "    -force     convert every page of a site run\n"
    "    -serve     preview the site over HTTP, rebuilt and reloaded on each change\n"
    "    -port N    the preview's port (default 8000; 0: any free one)\n"
    "    -bind ADDR the preview's address (default 127.0.0.1)\n"
    "    -keep      keep the outputs of a site run whose sources are gone\n"
    "    -strict    count the broken links of a site run as failures\n"
    "    -new       make a starter site in the folder named (which must be empty)\n"
    "    -nohighlighter  write no highlighter folder into a site run's output\n"
    "    --version  print the version\n"
    "    --help     this help with every option\n";

TEST(CommandLineConventions, VersionAndHelpAnswerAndEndTheRun) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--version"}, {"--VERSION"}, {"doc.md", "--version", "-o", "out.html"}}) {
    const RunResult r = RunProgram(dir.path(), arguments);
    EXPECT_EQ(r.status, 0) << arguments[0];
    EXPECT_EQ(r.out, Lines("tarvix 0.1.0\n")) << arguments[0];
    EXPECT_EQ(r.err, "") << arguments[0];
  }
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"--help"}, {"doc.md", "-o", "out.html", "--Help"}}) {
    const RunResult r = RunProgram(dir.path(), arguments);
    EXPECT_EQ(r.status, 0) << arguments[0];
    EXPECT_EQ(r.out, Lines(std::string(kUsage) + kHelpLines)) << arguments[0];
    EXPECT_EQ(r.err, "") << arguments[0];
  }
  // "-?" keeps its usage text and its status, whatever else is asked.
  const RunResult r = RunProgram(dir.path(), {"--version", "-?", "--help"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, Lines(kUsage));
  // Nothing was converted or written.
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"doc.md"});
}

TEST(CommandLineConventions, UnknownOptionsAreReportedThenIgnored) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  // The mistyped "--o" leaves the page on standard output; "out.html" is a plain argument.
  RunResult r = RunProgram(dir.path(), {"doc.md", "--o", "out.html", "-X", "-imagelink"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("<p>Text </p>\n"));
  EXPECT_EQ(r.err, Lines("tarvix: unknown option --o (ignored)\n"
                         "tarvix: unknown option -X (ignored)\n"));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"doc.md"});

  // An option's value is no option, however it starts; the added options are known.
  r = RunProgram(dir.path(), {"doc.md", "-t", "-x.html"});
  EXPECT_EQ(r.status, 255);
  // The page would have gone to standard output: the messages go to standard error.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, Lines("No TemplateFile\ntarvix: -x.html: No such file or directory\n"));
  r = RunProgram(dir.path(), {"doc.md", "-J", "2", "-FORCE", "-o", "-", "-Root", "--x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(dir.ReadFile("-"), Lines("<p>Text </p>\n"));

  // The warning comes before the usage text too.
  r = RunProgram(dir.path(), {"--verison"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, Lines(kUsage));
  EXPECT_EQ(r.err, Lines("tarvix: unknown option --verison (ignored)\n"));
}

TEST(CommandLineConventions, DashReadsTheDocumentFromStandardInput) {
  ScopedTempDir dir;
  std::filesystem::create_directory(dir.PathOf("sub"));
  std::filesystem::create_directory(dir.PathOf("in"));
  dir.WriteFile(Native("sub/page.html"),
                "<title>####TITLE####</title>####KEYWORDS####\n####BODY####");
  dir.WriteFile("inc.md", "<!-- keywords: K -->");
  // A reference used before its definition takes both passes; the header's relative
  // entries start from the current folder.
  const std::string document =
      "<!--\ntitle: From stdin\ntemplate: sub/page.html\ninclude: inc.md\ninclude: gone.md\n-->\n"
      "[x][r] [^c]\n\n[^c]: t\n\n[r]: u\n";
  RunOptions options;
  options.standardInput = dir.WriteFile(Native("in/document"), document);
  const std::string page =
      "<title>From stdin</title>K\n"
      "<!--\ntitle: From stdin\ntemplate: sub/page.html\ninclude: inc.md\ninclude: gone.md\n-->"
      "<p><a href=\" u\">x</a> <a href=\" t\" alt=\"c\">^c</a></p>\n<p></p>\n";
  RunResult r = RunProgram(dir.path(), {"-"}, options);
  EXPECT_EQ(r.status, 0);
  // Each pass reports the missing include, as it does for a file, on standard error: the
  // page is alone on standard output.
  const std::string missing =
      "Include File Not Find \"gone.md\"\ntarvix: gone.md: No such file or directory\n";
  EXPECT_EQ(r.out, Lines(page));
  EXPECT_EQ(r.err, Lines(missing + missing));

  r = RunProgram(dir.path(), {"-", "-o", "out.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.ReadFile("out.html"), Lines(page));

  // An empty standard input is an empty document.
  r = RunProgram(dir.path(), {"-"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST(CommandLineConventions, StandardInputGivesTheSamePageAsTheFile) {
  // Bytes that a text-mode read would change: CR LF, a lone CR, 0x1A, a NUL.
  const char oddBytes[] = "a\r\nb\rc \x1A d\n\n\0e *f*\n";
  const std::string odd(oddBytes, sizeof oddBytes - 1);
  ScopedTempDir dir;
  for (const std::string& document :
       {odd, FileBytes((std::filesystem::path(HostPath(__FILE__)).parent_path() / ".." / ".." /
                        "examples" / "guide.md")
                           .string())}) {
    ASSERT_FALSE(document.empty());
    RunOptions options;
    options.standardInput = dir.WriteFile("doc.md", document);
    const RunResult fromFile = RunProgram(dir.path(), {"doc.md", "-imagelink"});
    const RunResult fromInput = RunProgram(dir.path(), {"-", "-imagelink"}, options);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromInput.status, 0);
    EXPECT_FALSE(fromFile.out.empty());
    EXPECT_EQ(fromInput.out, fromFile.out);
  }
}

}  // namespace
}  // namespace tarvix
