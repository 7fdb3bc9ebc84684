// One conversion of a document file from its arguments to its committed page, as the
// program and the site run make it, with the exit status it ends with.
#pragma once

#include <string>
#include <vector>

namespace tarvix {

class Parser_CL;

// The exit statuses of a run.
inline constexpr int kStatusWritten = 0;
inline constexpr int kStatusNotWritten = 1;  // the page could not be written, or memory ran out
inline constexpr int kStatusNotStarted = 255;

// One conversion of a file: `parser`'s Init with `arguments`, then Run. Returns the exit
// status. Memory that runs out anywhere in the conversion (the input, the body, the
// template, an include) ends it with "Out of memory" on standard error and status 1;
// the parser's destruction then deletes its temporary file and the target stays as it was.
[[nodiscard]] int ConvertFile(Parser_CL& parser, const std::vector<std::string>& arguments);

}  // namespace tarvix
