// Command-line parsing and the options derived from it.
#include "app/CommandLine_CL.h"

#include <charconv>
#include <utility>

#include "app/Parser_CL.h"
#include "platform/Platform.h"
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
  return !argument.empty() && platform::IsOptionMarker(argument[0]);
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

int ParseOptions(const std::vector<std::string>& arguments, Options& options) {
  CommandLine_CL commandLine(arguments);
  if (commandLine.CountPlain() == 0 || commandLine.HasOption("?")) {
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
  return 1;
}

}  // namespace tarvix
