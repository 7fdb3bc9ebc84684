// Command-line parsing and the options derived from it.
#include "core/CommandLine_CL.h"

#include <charconv>
#include <optional>
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

// Every option the program knows. Those the usage text leaves out have a line of their
// own in the help text, after it; the single run ignores the options of the other runs.
constexpr unsigned kEveryRun = kSingleRun | kSiteRun | kPreviewRun;
constexpr unsigned kSiteRuns = kSiteRun | kPreviewRun;
constexpr OptionRow kOptionTable[] = {
    {"o", "output", "", true, kEveryRun, ""},
    {"t", "template", "", true, kEveryRun, ""},
    {"dbgt", "", "", true, kEveryRun, ""},
    {"root", "", "", true, kEveryRun,
     "    -root      Site Root Folder (default: the Output File's Folder)\n"},
    {"syntax", "", "", true, kEveryRun, ""},
    {"imagelink", "", "", false, kEveryRun, ""},
    {"ext", "", "", false, kEveryRun, ""},
    {"?", "", "", false, kEveryRun, ""},
    {"j", "jobs", "", true, kSiteRuns, "    -j N       convert N pages at once in a site run\n"},
    {"force", "", "", false, kSiteRuns, "    -force     convert every page of a site run\n"},
    {"serve", "", "", false, kPreviewRun,
     "    -serve     preview the site over HTTP, rebuilt and reloaded on each change\n"},
    {"port", "", "", true, kPreviewRun,
     "    -port N    the preview's port (default 8000; 0: any free one)\n"},
    {"bind", "", "", true, kPreviewRun,
     "    -bind ADDR the preview's address (default 127.0.0.1)\n"},
    {"host", "", "", true, kPreviewRun,
     "    -host NAME one more Host name the preview answers to\n"},
    {"keep", "", "", false, kSiteRuns,
     "    -keep      keep the outputs of a site run whose sources are gone\n"},
    {"strict", "", "", false, kSiteRuns,
     "    -strict    count the broken links of a site run as failures\n"},
    {"new", "", "", false, kSiteRun,
     "    -new       make a starter site in the folder named (which must be empty)\n"},
    {"nohighlighter", "", "", false, kSiteRuns,
     "    -nohighlighter  write no highlighter folder into a site run's output\n"},
    {"version", "", "V", false, kEveryRun, "    --version  print the version\n"},
    {"help", "", "h", false, kEveryRun, "    --help     this help with every option\n"},
};

constexpr std::string_view kHelpSpellings =
    "Every option may also be written --name, and a value also as --name=VALUE or "
    "-name=VALUE.\n";

constexpr std::string_view kVersionOption = "version";
constexpr std::string_view kHelpOption = "help";
constexpr std::string_view kUsageOption = "?";

// The text of an option argument after its marker ("-", "--", on Windows "/"); nothing
// when the argument is no option. "-" alone is the standard input.
std::optional<std::string_view> OptionText(std::string_view argument) {
  if (argument.empty() || !platform::IsOptionMarker(argument[0]) || argument == kStandardInputName)
    return std::nullopt;
  std::string_view text = argument.substr(1);
  if (argument[0] == '-' && !text.empty() && text[0] == '-')
    text.remove_prefix(1);
  return text;
}

// An option's text read against the table: its row (nullptr: none), and the value given
// after '=' in the same argument.
struct OptionMatch {
  const OptionRow* row = nullptr;
  bool inlineValue = false;
  std::string_view value;
};

OptionMatch MatchOption(std::string_view text) {
  OptionMatch match;
  std::string_view name = text;
  if (const std::size_t equals = text.find('='); equals != std::string_view::npos) {
    name = text.substr(0, equals);
    match.inlineValue = true;
    match.value = text.substr(equals + 1);
  }
  for (const OptionRow& row : kOptionTable) {
    if (EqualsIgnoreCase(name, row.name) ||
        (!row.longName.empty() && EqualsIgnoreCase(name, row.longName)) ||
        (!row.shortName.empty() && EqualsIgnoreCase(name, row.shortName))) {
      // A flag with "=VALUE" is no spelling of the flag.
      if (match.inlineValue && !row.takesValue)
        break;
      match.row = &row;
      return match;
    }
  }
  return OptionMatch{};
}

std::string HelpText() {
  std::string help(kUsage);
  for (const OptionRow& row : kOptionTable)
    help += row.helpLine;
  // The other names, from the table: "--output for -o", "-h for --help".
  std::string names;
  for (const OptionRow& row : kOptionTable) {
    const std::string dashes = row.helpLine.find("--") != std::string_view::npos ? "--" : "-";
    if (!row.longName.empty())
      names.append(names.empty() ? "" : ", ")
          .append("--")
          .append(row.longName)
          .append(" for ")
          .append(dashes)
          .append(row.name);
    if (!row.shortName.empty())
      names.append(names.empty() ? "" : ", ")
          .append("-")
          .append(row.shortName)
          .append(" for ")
          .append(dashes)
          .append(row.name);
  }
  help.append("Also: ").append(names).append(".\n").append(kHelpSpellings);
  return help;
}

}  // namespace

const OptionRow* FindOptionRow(std::string_view argument) {
  const std::optional<std::string_view> text = OptionText(argument);
  return text ? MatchOption(*text).row : nullptr;
}

bool IsOptionNamed(std::string_view argument, std::string_view name) {
  const OptionRow* row = FindOptionRow(argument);
  return row != nullptr && EqualsIgnoreCase(row->name, name);
}

namespace {

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

CommandLine_CL::CommandLine_CL(std::vector<std::string> arguments) {
  bool valueOptionSeen = false;
  // A plain argument: the first is the input file, the others are extra. A value given as
  // the next argument is plain too, unless it looks like an option, as it always was.
  const auto plain = [&](const std::string& argument, bool isValue) {
    ++countPlain_;
    if (!hasInput_) {
      input_ = argument;
      hasInput_ = true;
      valueBeforeInput_ = valueOptionSeen;
    } else if (!isValue) {
      extraPlain_.push_back(argument);
    }
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string& argument = arguments[i];
    const std::optional<std::string_view> text = OptionText(argument);
    if (!text) {
      plain(argument, false);
      continue;
    }
    const OptionMatch match = MatchOption(*text);
    Given given{match.row, argument, std::string(match.value)};
    if (match.row != nullptr && match.row->takesValue) {
      valueOptionSeen = true;
      if (!match.inlineValue && i + 1 < arguments.size()) {
        given.value = arguments[++i];
        if (!OptionText(given.value))
          plain(given.value, true);
      }
    }
    options_.push_back(std::move(given));
  }
}

int CommandLine_CL::HasOption(std::string_view name) const {
  for (const Given& given : options_) {
    if (given.row != nullptr && !name.empty() && EqualsIgnoreCase(given.row->name, name))
      return 1;
  }
  return 0;
}

std::string CommandLine_CL::OptionValue(std::string_view name) const {
  for (const Given& given : options_) {
    if (given.row != nullptr && EqualsIgnoreCase(given.row->name, name))
      return given.value;
  }
  return {};
}

std::string CommandLine_CL::FirstPlain() const {
  return input_;
}

int CommandLine_CL::CountPlain() const {
  return countPlain_;
}

std::vector<std::string> CommandLine_CL::UnknownOptions() const {
  std::vector<std::string> unknown;
  for (const Given& given : options_) {
    if (given.row == nullptr)
      unknown.push_back(given.argument);
  }
  return unknown;
}

std::vector<std::string> CommandLine_CL::ExtraPlain() const {
  return extraPlain_;
}

bool CommandLine_CL::ValueBeforeInput() const {
  return valueBeforeInput_;
}

std::vector<std::string> CommandLine_CL::Canonical() const {
  std::vector<std::string> canonical;
  // Always first, empty when there is none: a value read again must never become the input.
  canonical.push_back(input_);
  for (const Given& given : options_) {
    if (given.row == nullptr) {
      canonical.push_back(given.argument);
      continue;
    }
    canonical.push_back("-" + std::string(given.row->name));
    if (given.row->takesValue)
      canonical.push_back(given.value);
  }
  return canonical;
}

bool OnlyAnswers(const CommandLine_CL& commandLine) {
  return commandLine.HasOption(kUsageOption) || commandLine.HasOption(kVersionOption) ||
         commandLine.HasOption(kHelpOption);
}

std::optional<int> AnswerCommandLine(const CommandLine_CL& commandLine, bool siteRun,
                                     std::string_view versionText, MessageSink_CL& messages) {
  const std::string program(kProgramName);
  const std::vector<std::string> unknown = commandLine.UnknownOptions();
  // A site run records its options and rebuilds every page when they change: a mistyped
  // option would cost a full rebuild and still do nothing, so it stops the run instead.
  if (siteRun && !unknown.empty()) {
    for (const std::string& option : unknown) {
      messages.Message(program + ": unknown option " + option + " (nothing was done)",
                       MessageStream::Error);
    }
    return 255;
  }
  for (const std::string& option : unknown)
    messages.Message(program + ": unknown option " + option + " (ignored)", MessageStream::Error);
  for (const std::string& extra : commandLine.ExtraPlain()) {
    messages.Message(program + ": " + extra +
                         (siteRun ? ": ignored (one folder per site run)"
                                  : ": ignored (one document per run; name a folder for a site)"),
                     MessageStream::Error);
  }
  // The usage text keeps its status; ParseOptions shows it.
  if (commandLine.HasOption(kUsageOption))
    return std::nullopt;
  if (commandLine.HasOption(kVersionOption)) {
    platform::PrintText(std::string(versionText));
    return 0;
  }
  if (commandLine.HasOption(kHelpOption)) {
    platform::PrintText(HelpText());
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
  options.inputAfterValue = commandLine.ValueBeforeInput();
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
