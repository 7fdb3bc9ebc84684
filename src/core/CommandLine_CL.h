// The command line: the arguments after the program name, the input file and options.
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

// An option is an argument that starts with the platform's option marker ("-name"; on
// Windows also "/name"). Option names compare without regard to ASCII letter case.
class CommandLine_CL {
 public:
  explicit CommandLine_CL(std::vector<std::string> arguments);
  virtual ~CommandLine_CL() = default;

  // 1 when some option is `name` (given without its marker).
  [[nodiscard]] int HasOption(std::string_view name) const;
  // The argument after the first option `name`, whatever it is; empty when the option is
  // absent or last.
  [[nodiscard]] std::string OptionValue(std::string_view name) const;
  // The first argument that is not an option; empty when none.
  [[nodiscard]] std::string FirstPlain() const;
  [[nodiscard]] int CountPlain() const;
  // Each option no row of the option table names, in order; the argument after an option
  // that takes a value is that value, not an option.
  [[nodiscard]] std::vector<std::string> UnknownOptions() const;

 private:
  [[nodiscard]] bool IsOption(const std::string& argument) const;
  std::vector<std::string> arguments_;
};

// What the command line settles before any file is looked at: warns on standard error of
// each unknown option (it is still ignored), and answers --version and --help on standard
// output. Returns the exit status when the run ends there.
[[nodiscard]] std::optional<int> AnswerCommandLine(const std::vector<std::string>& arguments,
                                                   MessageSink_CL& messages);

// Fills `options` from `arguments`; 0 when the usage text was printed.
[[nodiscard]] int ParseOptions(const std::vector<std::string>& arguments, Options& options);

}  // namespace tarvix
