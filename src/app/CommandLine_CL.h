// The command line: the arguments after the program name, the input file and options.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

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

 private:
  [[nodiscard]] bool IsOption(const std::string& argument) const;
  std::vector<std::string> arguments_;
};

}  // namespace tarvix
