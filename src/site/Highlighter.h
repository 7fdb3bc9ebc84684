// The highlighter folder the program supplies: the layout the pages' script tags load
// (scripts/shCore.js, a scripts/shBrush*.js per brush), made from the highlighting library
// the program carries, with a style sheet of colours for light and dark pages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// The folder's name below the site root, where the pages look for it unless told otherwise.
inline constexpr std::string_view kHighlighterFolder = "SyntaxHighlighter";

struct HighlighterFile {
  std::string path;  // below the folder, with '/' between names
  std::string bytes;
};

// The folder's files: the core script (the library's core, then our adapter, which defines
// SyntaxHighlighter.all() and colours each pre whose class names a brush), one script per
// brush holding the library's definitions of the languages it needs, and the colours.
[[nodiscard]] std::vector<HighlighterFile> HighlighterFiles();

// Whether a file of the folder (its path below it) is a brush's script, which only a page
// that uses the brush loads; the core and the colours serve every page with a brush.
[[nodiscard]] bool IsBrushScript(std::string_view path);

// The library's script split where each language is registered: what comes before the
// first (the core), and each language's registration by its name. False when the script
// has no language of its own.
struct LibraryParts {
  std::string_view core;
  std::vector<std::pair<std::string_view, std::string_view>> languages;
};
[[nodiscard]] bool SplitLibrary(std::string_view script, LibraryParts* parts);

}  // namespace tarvix
