#include "core/CommandLine_CL.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/Options.h"
#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "support/Usage.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// ParseOptions on `arguments`; the options it filled, or nothing useful when it printed
// the usage text (`result` tells).
Options Parse(const std::vector<std::string>& arguments, int* result = nullptr) {
  Options options;
  const int r = ParseOptions(arguments, options);
  if (result != nullptr)
    *result = r;
  return options;
}

TEST(CommandLine, OptionNamesIgnoreCaseAndOnlyDashMarksAnOption) {
  const CommandLine_CL line({"in.md", "-O", "OUT.html", "-EXT", "-ImageLink", "-T", "t.html"});
  EXPECT_EQ(line.HasOption("o"), 1);
  EXPECT_EQ(line.HasOption("ext"), 1);
  EXPECT_EQ(line.HasOption("IMAGELINK"), 1);
  EXPECT_EQ(line.HasOption("root"), 0);
  EXPECT_EQ(line.HasOption(""), 0);
  EXPECT_EQ(line.OptionValue("o"), "OUT.html");
  EXPECT_EQ(line.OptionValue("t"), "t.html");
  EXPECT_EQ(line.OptionValue("dbgt"), "");
  EXPECT_EQ(line.FirstPlain(), "in.md");
  EXPECT_EQ(line.CountPlain(), 3);

  const CommandLine_CL paths({"/home/a/doc.md", "/o", "x.html"});
  if (platform::IsOptionMarker('/')) {
    // On Windows "/o" is "-o".
    EXPECT_EQ(paths.FirstPlain(), "x.html");
    EXPECT_EQ(paths.HasOption("o"), 1);
    EXPECT_EQ(paths.OptionValue("o"), "x.html");
    EXPECT_EQ(paths.CountPlain(), 1);
  } else {
    // An absolute path is the input file, and "/o" is no option here.
    EXPECT_EQ(paths.FirstPlain(), "/home/a/doc.md");
    EXPECT_EQ(paths.HasOption("o"), 0);
    EXPECT_EQ(paths.OptionValue("o"), "");
    EXPECT_EQ(paths.CountPlain(), 3);
  }
}

TEST(CommandLine, OptionValueIsTheNextArgumentWhateverItIs) {
  EXPECT_EQ(CommandLine_CL({"in.md", "-o", "-t", "x"}).OptionValue("o"), "-t");
  EXPECT_EQ(CommandLine_CL({"in.md", "-o"}).OptionValue("o"), "");
  EXPECT_EQ(CommandLine_CL({"in.md", "-o", "1", "-o", "2"}).OptionValue("o"), "1");
}

TEST(CommandLine, UnknownOptionsSkipValuesAndDashIsPlain) {
  const CommandLine_CL line({"-", "--out", "x.html", "-t", "-weird", "-Root", "r", "-syntax",
                             "--help", "-j", "3", "-force", "--VERSION", "-verbose", "-ext", "-?",
                             "-o"});
  EXPECT_EQ(line.UnknownOptions(), (std::vector<std::string>{"--out", "-verbose"}));
  // "-" alone is the standard input: the input file, not an option.
  EXPECT_EQ(line.FirstPlain(), "-");
  EXPECT_EQ(line.HasOption(""), 0);
  EXPECT_EQ(CommandLine_CL({"in.md", "-"}).CountPlain(), 2);
  // A value-taking option given last takes nothing with it.
  EXPECT_EQ(CommandLine_CL({"in.md", "-zz", "-dbgt"}).UnknownOptions(),
            std::vector<std::string>{"-zz"});
  // "/name" is an option only where '/' marks one.
  EXPECT_EQ(CommandLine_CL({"/srv/in.md", "/x"}).UnknownOptions(),
            platform::IsOptionMarker('/') ? (std::vector<std::string>{"/srv/in.md", "/x"})
                                          : std::vector<std::string>{});
}

TEST(CommandLine, EverySpellingReadsTheSameAndTheOneSpellingReadsAgainAlike) {
  struct Case {
    std::vector<std::string> arguments;
    std::vector<std::string> canonical;
    std::vector<std::string> extra;
    bool valueBeforeInput;
  };
  const Case cases[] = {
      {{"in.md", "--output=o.html", "-T=t.html", "--JOBS", "3", "--strict"},
       {"in.md", "-o", "o.html", "-t", "t.html", "-j", "3", "-strict"},
       {},
       false},
      {{"in.md", "--Template", "-x.html", "-h", "-V", "--?"},
       {"in.md", "-t", "-x.html", "-help", "-version", "-?"},
       {},
       false},
      // A value in the option's argument is no plain argument; one given as the next is.
      {{"--output=o.html", "in.md"}, {"in.md", "-o", "o.html"}, {}, true},
      {{"-o", "o.html", "in.md", "b.md"}, {"o.html", "-o", "o.html"}, {"in.md", "b.md"}, true},
      // '=' makes no flag; "--" alone and a mistyped name stay as given.
      {{"in.md", "-ext=1", "--", "--outputs=x", "-o="},
       {"in.md", "-ext=1", "--", "--outputs=x", "-o", ""},
       {},
       false},
      // Without an input the one spelling keeps its first place empty.
      {{"--output=o.html"}, {"", "-o", "o.html"}, {}, false},
  };
  for (const Case& c : cases) {
    const CommandLine_CL line(c.arguments);
    EXPECT_EQ(line.Canonical(), c.canonical) << c.arguments[0];
    EXPECT_EQ(line.ExtraPlain(), c.extra) << c.arguments[0];
    EXPECT_EQ(line.ValueBeforeInput(), c.valueBeforeInput) << c.arguments[0];
    // Read again, the one spelling means what the line meant.
    const CommandLine_CL again(c.canonical);
    EXPECT_EQ(again.Canonical(), c.canonical) << c.arguments[0];
    EXPECT_EQ(again.FirstPlain(), line.FirstPlain()) << c.arguments[0];
    for (const char* name : {"o", "t", "j", "strict", "ext", "help", "version", "?"}) {
      EXPECT_EQ(again.HasOption(name), line.HasOption(name)) << name;
      EXPECT_EQ(again.OptionValue(name), line.OptionValue(name)) << name;
    }
    EXPECT_EQ(again.UnknownOptions(), line.UnknownOptions()) << c.arguments[0];
  }
}

TEST(CommandLine, OptionRowsAreFoundByEveryNameAndOnlyThere) {
  const std::pair<const char*, const char*> named[] = {
      {"-o", "o"},          {"--output", "o"},      {"--OUTPUT=x", "o"}, {"-o=", "o"},
      {"--t", "t"},         {"--template=x", "t"},  {"-jobs", "j"},      {"-h", "help"},
      {"--help", "help"},   {"-V", "version"},      {"-v", "version"},   {"--serve", "serve"},
      {"-port=80", "port"}, {"--bind=::1", "bind"},
  };
  for (const auto& [argument, name] : named) {
    ASSERT_NE(FindOptionRow(argument), nullptr) << argument;
    EXPECT_EQ(FindOptionRow(argument)->name, name) << argument;
    EXPECT_TRUE(IsOptionNamed(argument, name)) << argument;
  }
  for (const char* argument : {"-", "--", "in.md", "", "-force=1", "--out", "---o", "-help=me"})
    EXPECT_EQ(FindOptionRow(argument), nullptr) << argument;
  EXPECT_FALSE(IsOptionNamed("-o", "t"));
  // What each run may take: a page depends on no option of the site run or the preview.
  EXPECT_EQ(FindOptionRow("-strict")->products & kSingleRun, 0u);
  EXPECT_EQ(FindOptionRow("-port")->products & kSiteRun, 0u);
  EXPECT_NE(FindOptionRow("-t")->products & kSiteRun, 0u);
}

TEST(ParseOptions, UsageWithoutInputOrWithQuestionMark) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"-ext", "-imagelink"}, {"in.md", "-?"}, {"-?", "in.md"}, {"in.md", "-o", "x", "-?"}};
  for (const auto& arguments : cases) {
    testing::internal::CaptureStdout();
    int result = -1;
    Parse(arguments, &result);
    EXPECT_EQ(result, 0) << arguments.size();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage) << arguments.size();
  }
  // An unknown option is ignored; "/?" asks for the usage text only where '/' marks an
  // option, elsewhere it is the input file.
  int result = -1;
  EXPECT_EQ(Parse({"in.md", "-zz"}, &result).inputFile, "in.md");
  EXPECT_EQ(result, 1);
  const bool slashOptions = platform::IsOptionMarker('/');
  testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"/?"}, &result).inputFile, slashOptions ? "" : "/?");
  EXPECT_EQ(result, slashOptions ? 0 : 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), slashOptions ? kUsage : "");
}

TEST(ParseOptions, FillsTheFieldsFromTheArguments) {
  Options o = Parse({"in.md", "-O", "OUT.html", "-EXT", "-t", "t.html", "-Dbgt", "d.html",
                     "-imagelink", "-ROOT", "."});
  EXPECT_EQ(o.inputFile, "in.md");
  EXPECT_EQ(o.outputFile, "OUT.html");
  EXPECT_EQ(o.templateFile, "t.html");
  EXPECT_EQ(o.debugTemplateFile, "d.html");
  EXPECT_EQ(o.imageLink, 1);
  EXPECT_EQ(o.replaceExt, 1);

  o = Parse({"in.md"});
  EXPECT_EQ(o.outputFile, "");
  EXPECT_EQ(o.templateFile, "");
  EXPECT_EQ(o.imageLink, 0);
  EXPECT_EQ(o.replaceExt, 0);

  // A value-taking option given last has no value: the page goes to standard output.
  o = Parse({"in.md", "-o"});
  EXPECT_EQ(o.outputFile, "");
  EXPECT_EQ(o.rootRel, ".");

  // An option's value is itself a plain argument, so the input must come first.
  o = Parse({"-o", "out.html", "in.md"});
  EXPECT_EQ(o.inputFile, "out.html");
  EXPECT_EQ(o.outputFile, "out.html");
}

TEST(ParseOptions, WithoutOutputFileRootAndSyntaxAreFixed) {
  const Options o = Parse({"in.md", "-root", "/srv/site", "-syntax", "/srv/lib"});
  EXPECT_EQ(o.rootRel, ".");
  EXPECT_EQ(o.syntaxDir, "./SyntaxHighlighter");
  EXPECT_EQ(o.rootDir, "/srv/site");
}

TEST(ParseOptions, RootDefaultsToTheOutputFolder) {
  for (const char* output : {"/srv/site/docs/page.html", "docs/page.html", "page.html"}) {
    const Options o = Parse({"in.md", "-o", ToNativeSeparators(output)});
    EXPECT_EQ(o.rootRel, ".") << output;
    EXPECT_EQ(o.rootDir, ".") << output;
    EXPECT_EQ(o.syntaxDir, "./SyntaxHighlighter") << output;
  }
  // A name without a folder lies in the current folder: -syntax is taken from there.
  EXPECT_EQ(Parse({"in.md", "-o", "page.html", "-syntax", ToNativeSeparators("lib/sh")}).syntaxDir,
            "./lib/sh");
}

TEST(ParseOptions, RootAndSyntaxAreRelative) {
  struct Case {
    std::vector<std::string> arguments;
    std::string rootRel;
    std::string syntaxDir;
  };
  const Case cases[] = {
      {{"in.md", "-o", "/srv/site/a/b/page.html", "-root", "/srv/site"},
       "../..",
       "./SyntaxHighlighter"},
      {{"in.md", "-o", "/srv/site/a/b/page.html", "-root", "/srv/site/"},
       "../..",
       "./SyntaxHighlighter"},
      {{"in.md", "-o", "/srv/site/a/page.html", "-root", "/srv/site", "-syntax", "/srv/lib/sh/"},
       "..",
       "../lib/sh"},
      {{"in.md", "-o", "/srv/site/a/page.html", "-root", "/srv/site", "-syntax",
        "/srv/site/js/./sh"},
       "..",
       "./js/sh"},
      {{"in.md", "-o", "/srv/page.html", "-root", "/srv/site"}, "./site", "./SyntaxHighlighter"},
      {{"in.md", "-o", "/a/b/page.html", "-root", "/x/y"}, "../../x/y", "./SyntaxHighlighter"},
      {{"in.md", "-o", "/a/page.html", "-root", "/"}, "..", "./SyntaxHighlighter"},
      {{"in.md", "-o", "site/a/page.html", "-root", "site", "-syntax", "site/sh"}, "..", "./sh"},
      {{"in.md", "-o", "site//a/../b/page.html", "-root", "site"}, "..", "./SyntaxHighlighter"},
  };
  for (const Case& c : cases) {
    // Paths are written with '/' above and given in this system's form.
    std::vector<std::string> arguments;
    for (const std::string& a : c.arguments)
      arguments.push_back(ToNativeSeparators(a));
    const Options o = Parse(arguments);
    EXPECT_EQ(o.rootRel, c.rootRel) << c.arguments[2] << " " << c.arguments[4];
    EXPECT_EQ(o.rootDir, c.rootRel) << c.arguments[2] << " " << c.arguments[4];
    EXPECT_EQ(o.syntaxDir, c.syntaxDir) << c.arguments[2] << " " << c.arguments[4];
  }
}

}  // namespace
}  // namespace tarvix
