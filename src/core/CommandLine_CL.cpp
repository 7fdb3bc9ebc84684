// Command-line parsing and the options derived from it.
#include "core/CommandLine_CL.h"

#include <charconv>
#include <utility>

#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "tarvix/tarvix.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kUsage =
    "Tarvix.exe [Input File] [options]\n"
    "Version: 0.1.0\n"
    "Options:\n"
    "    -o         Output File\n"
    "    -t         Template File\n"
    "    -dbgt      force use Debug Template File\n"
    "    -syntax    SyntaxHighlighter Folder\n"
    "    -imagelink Image add a-tag link\n"
    "    -ext       File Extention Output from Markdown File\n"
    "    -?         this help\n";

constexpr std::string_view kSyntaxFolderName = "SyntaxHighlighter";

// Every option the program knows, by its name after the marker ("--version" is "-version").
// Those the usage text leaves out have a line of their own in the help text, after it.
struct OptionRow {
  std::string_view name;
  bool takesValue;
  std::string_view helpLine;  // empty: the usage text shows the option
};
constexpr OptionRow kOptionTable[] = {
    {"o", true, ""},
    {"t", true, ""},
    {"dbgt", true, ""},
    {"root", true, "    -root      Site Root Folder (default: the Output File's Folder)\n"},
    {"syntax", true, ""},
    {"imagelink", false, ""},
    {"ext", false, ""},
    {"?", false, ""},
    {"j", true, "    -j N       convert N pages at once in a site run\n"},
    {"force", false, "    -force     convert every page of a site run\n"},
    {"serve", false,
     "    -serve     preview the site over HTTP, rebuilt and reloaded on each change\n"},
    {"port", true, "    -port N    the preview's port (default 8000; 0: any free one)\n"},
    {"bind", true, "    -bind ADDR the preview's address (default 127.0.0.1)\n"},
    {"keep", false, "    -keep      keep the outputs of a site run whose sources are gone\n"},
    {"strict", false, "    -strict    count the broken links of a site run as failures\n"},
    {"new", false, "    -new       make a starter site in the folder named (which must be empty)\n"},
    {"nohighlighter", false,
     "    -nohighlighter  write no highlighter folder into a site run's output\n"},
    {"-version", false, "    --version  print the version\n"},
    {"-help", false, "    --help     this help with every option\n"},
};

constexpr std::string_view kVersionOption = "-version";
constexpr std::string_view kHelpOption = "-help";
constexpr std::string_view kUsageOption = "?";

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& row : kOptionTable) {
    if (EqualsIgnoreCase(name, row.name))
      return &row;
  }
  return nullptr;
}

// The folder of the output file. A name without any folder part lies in the current
// folder (not at the root of the file system).
std::string OutputFolder(const std::string& outputFile) {
  if (outputFile.find(platform::kPathSeparator) == std::string::npos)
    return ".";
  return FolderOf(outputFile);
}

// An absolute folder path ending in exactly one separator.
std::string FullFolder(const std::string& folder) {
  return FullPathOf(StripTrailing(folder, platform::kPathSeparator), "");
}

// The relative path from `from` to `to` with '/' separators, without its final character.
std::string RelativeForPage(const std::string& from, const std::string& to) {
  std::string rel = ToForwardSlashes(RelativePath(from, to, platform::kPathSeparator));
  if (!rel.empty())
    rel.pop_back();
  return rel;
}

}  // namespace

CommandLine_CL::CommandLine_CL(std::vector<std::string> arguments)
    : arguments_(std::move(arguments)) {}

bool CommandLine_CL::IsOption(const std::string& argument) const {
  return !argument.empty() && platform::IsOptionMarker(argument[0]) &&
         argument != kStandardInputName;
}

int CommandLine_CL::HasOption(std::string_view name) const {
  if (name.empty())
    return 0;
  for (const std::string& a : arguments_) {
    if (IsOption(a) && EqualsIgnoreCase(std::string_view(a).substr(1), name))
      return 1;
  }
  return 0;
}

std::string CommandLine_CL::OptionValue(std::string_view name) const {
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    const std::string& a = arguments_[i];
    if (IsOption(a) && EqualsIgnoreCase(std::string_view(a).substr(1), name)) {
      return i + 1 < arguments_.size() ? arguments_[i + 1] : std::string();
    }
  }
  return {};
}

std::string CommandLine_CL::FirstPlain() const {
  for (const std::string& a : arguments_) {
    if (!IsOption(a))
      return a;
  }
  return {};
}

int CommandLine_CL::CountPlain() const {
  int n = 0;
  for (const std::string& a : arguments_)
    n += IsOption(a) ? 0 : 1;
  return n;
}

std::vector<std::string> CommandLine_CL::UnknownOptions() const {
  std::vector<std::string> unknown;
  for (std::size_t i = 0; i < arguments_.size(); ++i) {
    const std::string& a = arguments_[i];
    if (!IsOption(a))
      continue;
    const OptionRow* row = FindOption(std::string_view(a).substr(1));
    if (!row) {
      unknown.push_back(a);
    } else if (row->takesValue) {
      ++i;
    }
  }
  return unknown;
}

std::optional<int> AnswerCommandLine(const std::vector<std::string>& arguments,
                                     MessageSink_CL& messages) {
  const CommandLine_CL commandLine(arguments);
  for (const std::string& option : commandLine.UnknownOptions()) {
    messages.Message(std::string(kProgramName) + ": unknown option " + option + " (ignored)",
                     MessageStream::Error);
  }
  // The usage text keeps its status; ParseOptions shows it.
  if (commandLine.HasOption(kUsageOption))
    return std::nullopt;
  if (commandLine.HasOption(kVersionOption)) {
    platform::PrintText(std::string(kProgramName) + " " + Version() + "\n");
    return 0;
  }
  if (commandLine.HasOption(kHelpOption)) {
    std::string help(kUsage);
    for (const OptionRow& row : kOptionTable)
      help += row.helpLine;
    platform::PrintText(help);
    return 0;
  }
  return std::nullopt;
}

int ParseOptions(const std::vector<std::string>& arguments, Options& options) {
  CommandLine_CL commandLine(arguments);
  if (commandLine.CountPlain() == 0 || commandLine.HasOption(kUsageOption)) {
    platform::PrintText(kUsage);
    return 0;
  }
  options.inputFile = commandLine.FirstPlain();
  options.outputFile = commandLine.OptionValue("o");
  options.templateFile = commandLine.OptionValue("t");
  options.debugTemplateFile = commandLine.OptionValue("dbgt");
  options.rootDir = commandLine.OptionValue("root");

  const std::string root =
      FullFolder(options.rootDir.empty() ? OutputFolder(options.outputFile) : options.rootDir);
  if (options.outputFile.empty()) {
    options.rootRel.assign(1, '.');
  } else {
    options.rootRel = RelativeForPage(FullFolder(OutputFolder(options.outputFile)), root);
    options.rootDir = options.rootRel;
  }

  std::string syntax = commandLine.OptionValue("syntax");
  if (syntax.empty())
    syntax = root + std::string(kSyntaxFolderName);
  syntax = FullFolder(syntax);
  if (options.outputFile.empty()) {
    options.syntaxDir = "./" + std::string(kSyntaxFolderName);
  } else {
    options.syntaxDir = RelativeForPage(root, syntax);
  }

  options.imageLink = commandLine.HasOption("imagelink");
  options.replaceExt = commandLine.HasOption("ext");
  // Site-run options, beyond the usage text: "-j N" (no number, or not a positive one,
  // keeps the default) and "-force".
  const std::string jobs = commandLine.OptionValue("j");
  std::int32_t n = 0;
  const auto [end, error] = std::from_chars(jobs.data(), jobs.data() + jobs.size(), n);
  options.jobs = error == std::errc() && end == jobs.data() + jobs.size() && n > 0 ? n : 0;
  options.force = commandLine.HasOption("force");
  options.keep = commandLine.HasOption("keep");
  options.strict = commandLine.HasOption("strict");
  options.noHighlighter = commandLine.HasOption("nohighlighter");
  return 1;
}

}  // namespace tarvix
