// The starter site: `tarvix DIR -new` writes a small site into DIR that shows what pages,
// the template and the style can do, with the highlighter folder, ready to build.
#pragma once

#include <string>
#include <vector>

namespace tarvix {

// True when `arguments` ask for a starter site: -new and a folder named.
[[nodiscard]] bool IsStarterRun(const std::vector<std::string>& arguments);

// Writes the starter site into the folder the arguments name and prints the commands that
// build and preview it. Refused, with nothing written, when the folder exists and is not
// empty. Returns the exit status: 0, 1 when a file could not be written, 255 when refused.
[[nodiscard]] int RunStarter(const std::vector<std::string>& arguments);

}  // namespace tarvix
