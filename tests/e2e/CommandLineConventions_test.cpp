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
    "    -host NAME one more Host name the preview answers to\n"
    "    -keep      keep the outputs of a site run whose sources are gone\n"
    "    -strict    count the broken links of a site run as failures\n"
    "    -new       make a starter site in the folder named (which must be empty)\n"
    "    -nohighlighter  write no highlighter folder into a site run's output\n"
    "    --version  print the version\n"
    "    --help     this help with every option\n"
    "Also: --output for -o, --template for -t, --jobs for -j, -V for --version, -h for "
    "--help.\n"
    "Every option may also be written --name, and a value also as --name=VALUE or "
    "-name=VALUE.\n";

TEST(CommandLineConventions, VersionAndHelpAnswerAndEndTheRun) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  // The release first, where scripts compare it; then the build and whether it serves.
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--version"}, {"--VERSION"}, {"-V"}, {"doc.md", "--version", "-o", "out.html"}}) {
    const RunResult r = RunProgram(dir.path(), arguments);
    EXPECT_EQ(r.status, 0) << arguments[0];
    EXPECT_EQ(r.out.rfind(Lines("tarvix 0.1.0\nbuild "), 0), 0u) << r.out;
    EXPECT_NE(r.out.find(Lines("\npreview (-serve): ")), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "") << arguments[0];
  }
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"--help"}, {"-h"}, {"-help"}, {"doc.md", "-o", "out.html", "--Help"}}) {
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
  // The mistyped "--out" leaves the page on standard output; "out.html" is a plain argument,
  // and one document is all a run converts.
  RunResult r = RunProgram(dir.path(), {"doc.md", "--out", "out.html", "-X", "-imagelink"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, Lines("<p>Text </p>\n"));
  EXPECT_EQ(r.err, Lines("tarvix: unknown option --out (ignored)\n"
                         "tarvix: unknown option -X (ignored)\n"
                         "tarvix: out.html: ignored (one document per run; name a folder for a "
                         "site)\n"));
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

TEST(CommandLineConventions, EverySpellingOfAnOptionIsTheOption) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  dir.WriteFile("page.html", "<b>####BODY####</b>");
  struct Case {
    std::vector<std::string> arguments;
    std::string file;  // where the page goes; empty: standard output
    std::string page;
    std::string err;
  };
  const std::string plain = "<p>Text </p>\n";
  const std::string framed = "<b><p>Text </p>\n</b>";
  const Case cases[] = {
      {{"doc.md", "--output=a.html"}, "a.html", plain, ""},
      {{"doc.md", "-o=b.html"}, "b.html", plain, ""},
      {{"doc.md", "--OUTPUT", "c.html"}, "c.html", plain, ""},
      {{"doc.md", "--o", "d.html"}, "d.html", plain, ""},
      {{"doc.md", "--template=page.html", "--output=e.html"}, "e.html", framed, ""},
      {{"doc.md", "--template", "page.html"}, "", framed, ""},
      {{"doc.md", "-t=page.html", "--imagelink"}, "", framed, ""},
      // A value inside its option's argument is no plain argument: the input is doc.md.
      {{"--output=f.html", "doc.md"}, "f.html", plain, ""},
      // The site run's options are known to a single run, which ignores them.
      {{"doc.md", "--strict", "--jobs=2", "--force"}, "", plain, ""},
      // A value is empty when '=' ends the argument, as when the option comes last.
      {{"doc.md", "-o="}, "", plain, ""},
      // A flag takes no value: with one it is no option of ours.
      {{"doc.md", "-imagelink=1"}, "", plain, "tarvix: unknown option -imagelink=1 (ignored)\n"},
      {{"doc.md", "--outputs=g.html"},
       "",
       plain,
       "tarvix: unknown option --outputs=g.html (ignored)\n"},
      {{"doc.md", "a.md", "-o", "h.html", "b.md"},
       "h.html",
       plain,
       "tarvix: a.md: ignored (one document per run; name a folder for a site)\n"
       "tarvix: b.md: ignored (one document per run; name a folder for a site)\n"},
  };
  for (const Case& c : cases) {
    const std::string shown = c.arguments[1];
    const RunResult r = RunProgram(dir.path(), c.arguments);
    EXPECT_EQ(r.status, 0) << shown;
    EXPECT_EQ(r.err, Lines(c.err)) << shown;
    if (c.file.empty()) {
      EXPECT_EQ(r.out, Lines(c.page)) << shown;
    } else {
      EXPECT_EQ(r.out, "") << shown;
      EXPECT_EQ(dir.ReadFile(c.file), Lines(c.page)) << shown;
      std::filesystem::remove(dir.PathOf(c.file));
    }
  }
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "page.html"}));
}

TEST(CommandLineConventions, MissingInputAfterAnOptionSaysWhereTheInputGoes) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Text\n");
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      // The value of -o is the first plain argument, so it is the input file.
      {{"-o", "out.html", "doc.md"},
       "No InputFile\ntarvix: out.html: No such file or directory (the input file comes first: "
       "tarvix INPUT -o OUTPUT)\n",
       "tarvix: doc.md: ignored (one document per run; name a folder for a site)\n"},
      {{"--output=out.html", "gone.md"},
       "No InputFile\ntarvix: gone.md: No such file or directory (the input file comes first: "
       "tarvix INPUT -o OUTPUT)\n",
       ""},
      // A flag before the input, or the input first, is no reason for the hint.
      {{"-imagelink", "gone.md", "-o", "out.html"},
       "No InputFile\ntarvix: gone.md: No such file or directory\n",
       ""},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.path(), c.arguments);
    EXPECT_EQ(r.status, 255) << c.arguments[1];
    if (!kWindows) {
      EXPECT_EQ(r.out, Lines(c.out)) << c.arguments[1];
    }
    EXPECT_EQ(r.err, Lines(c.err)) << c.arguments[1];
  }
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"doc.md"});
}

}  // namespace
}  // namespace tarvix
