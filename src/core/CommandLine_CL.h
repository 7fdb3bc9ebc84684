// The command line: the arguments after the program name, the input file and options.
// One table names every option of every run; the single run, the site run and the
// preview read their command lines through it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/Messages.h"
#include "core/Options.h"

namespace tarvix {

// The input file that stands for the standard input. It is a plain argument, not an
// option, although it starts with the option marker.
inline constexpr std::string_view kStandardInputName = "-";

// The name the program gives itself in its warnings.
inline constexpr std::string_view kProgramName = "tarvix";

// The runs an option belongs to, one bit each.
inline constexpr unsigned kSingleRun = 1;
inline constexpr unsigned kSiteRun = 2;
inline constexpr unsigned kPreviewRun = 4;

// One option of the program. It is written "-name" (on Windows also "/name"), "--name",
// or with its long or short name in the same ways; a value-taking option takes the next
// argument as its value, or the text after '=' in the same argument ("--output=x.html",
// "-o=x.html").
struct OptionRow {
  std::string_view name;       // the name the rest of the program asks for: "o"
  std::string_view longName;   // another name, for "--output"; empty when none
  std::string_view shortName;  // another name, for "-h"; empty when none
  bool takesValue;
  unsigned products;          // the runs that use it (kSingleRun, ...)
  std::string_view helpLine;  // empty: the usage text shows the option
};

// The row an option argument names ("-O", "--output", "--output=x.html"); nullptr when it
// is no option or names no row. A name with "=VALUE" names a row only when the row takes a
// value.
[[nodiscard]] const OptionRow* FindOptionRow(std::string_view argument);

// True when `argument` is an option that names the row of `name` (a row's name, as in
// IsOptionNamed("--Output", "o")).
[[nodiscard]] bool IsOptionNamed(std::string_view argument, std::string_view name);

// Option names compare without regard to ASCII letter case. The input file is the first
// argument that is not an option, a value given as the next argument included: in
// "tarvix -o out.html in.md" the input file is "out.html".
class CommandLine_CL {
 public:
  explicit CommandLine_CL(std::vector<std::string> arguments);
  virtual ~CommandLine_CL() = default;

  // 1 when some option is `name` (a row's name).
  [[nodiscard]] int HasOption(std::string_view name) const;
  // The value of the first option `name`; empty when the option is absent or last.
  [[nodiscard]] std::string OptionValue(std::string_view name) const;
  // The input file: the first argument that is not an option; empty when none.
  [[nodiscard]] std::string FirstPlain() const;
  // The arguments that are no option, values given as the next argument included.
  [[nodiscard]] int CountPlain() const;
  // Each option no row of the option table names, as given, in order.
  [[nodiscard]] std::vector<std::string> UnknownOptions() const;
  // The plain arguments after the input file that are no option's value: one run reads
  // one input, and these are ignored.
  [[nodiscard]] std::vector<std::string> ExtraPlain() const;
  // True when an option that takes a value came before the input file, which is then
  // likely that option's value.
  [[nodiscard]] bool ValueBeforeInput() const;
  // The same command line in one spelling: the input file first, then each option as
  // "-name" with its value as the next argument, unknown options as given; the extra
  // plain arguments are left out; the input is an empty argument when there is none. A
  // site run and the preview read and pass on this one.
  [[nodiscard]] std::vector<std::string> Canonical() const;

 private:
  // One option as given: its row (nullptr: unknown), the argument, and its value.
  struct Given {
    const OptionRow* row;
    std::string argument;
    std::string value;
  };
  std::vector<Given> options_;
  std::string input_;
  bool hasInput_ = false;
  bool valueBeforeInput_ = false;
  std::vector<std::string> extraPlain_;
  int countPlain_ = 0;
};

// What the command line settles before any file is looked at: warns on standard error of
// each unknown option (it is still ignored) and of each extra plain argument, and answers
// --version (with `versionText`) and --help on standard output. `siteRun`: the run is a
// site run or the preview, whose extra arguments are told apart. Returns the exit status
// when the run ends there.
[[nodiscard]] std::optional<int> AnswerCommandLine(const CommandLine_CL& commandLine, bool siteRun,
                                                   std::string_view versionText,
                                                   MessageSink_CL& messages);

// True when the command line only asks for the usage text, the help or the version, so
// that no run starts whatever else it names.
[[nodiscard]] bool OnlyAnswers(const CommandLine_CL& commandLine);

// Fills `options` from `arguments`; 0 when the usage text was printed.
[[nodiscard]] int ParseOptions(const std::vector<std::string>& arguments, Options& options);

}  // namespace tarvix
