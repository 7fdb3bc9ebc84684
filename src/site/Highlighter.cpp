// The highlighter folder: the library's script split into its core and its languages, and
// each brush's script made of the languages it needs.
#include "site/Highlighter.h"

#include "highlight/HighLight_CL.h"
#include "site/Embedded.h"

namespace tarvix {
namespace {

// The library's languages for each brush's script, the brush's own first, then those its
// blocks embed (a page's style and script elements). The library has no ColdFusion; its
// markup is tags, so it is coloured as XML.
struct BrushLanguages {
  std::string_view scriptFile;
  std::string_view languages;  // space-separated
};
constexpr BrushLanguages kBrushLanguages[] = {
    {"shBrushAS3.js", "actionscript"},
    {"shBrushBash.js", "bash"},
    {"shBrushColdFusion.js", "xml css javascript"},
    {"shBrushCSharp.js", "cs"},
    {"shBrushCpp.js", "cpp"},
    {"shBrushCss.js", "css"},
    {"shBrushDelphi.js", "delphi"},
    {"shBrushDiff.js", "diff"},
    {"shBrushErlang.js", "erlang"},
    {"shBrushGroovy.js", "groovy"},
    {"shBrushJScript.js", "javascript"},
    {"shBrushJava.js", "java"},
    {"shBrushJavaFX.js", "java"},
    {"shBrushPerl.js", "perl"},
    {"shBrushPhp.js", "php xml css javascript"},
    {"shBrushPlain.js", "plaintext"},
    {"shBrushPowerShell.js", "powershell"},
    {"shBrushPython.js", "python"},
    {"shBrushRuby.js", "ruby"},
    {"shBrushScala.js", "scala"},
    {"shBrushSql.js", "sql"},
    {"shBrushVb.js", "vbnet"},
    {"shBrushXml.js", "xml css javascript"},
};

constexpr std::string_view kLibraryName = "highlighter/highlight.min.js";
constexpr std::string_view kAdapterName = "highlighter/adapter.js";
constexpr std::string_view kLightName = "highlighter/light.css";
constexpr std::string_view kDarkName = "highlighter/dark.css";
// Where the adapter takes the table of brush names.
constexpr std::string_view kBrushTableMark = "/*BRUSHES*/";
constexpr std::string_view kRegister = "hljs.registerLanguage(\"";

std::string_view Embedded(std::string_view name) {
  for (const EmbeddedFile& file : EmbeddedFiles()) {
    if (file.name == name)
      return file.bytes;
  }
  return {};
}

const BrushLanguages* LanguagesOf(std::string_view scriptFile) {
  for (const BrushLanguages& row : kBrushLanguages) {
    if (row.scriptFile == scriptFile)
      return &row;
  }
  return nullptr;
}

std::string_view FirstWord(std::string_view words) {
  return words.substr(0, words.find(' '));
}

}  // namespace

bool SplitLibrary(std::string_view script, LibraryParts* parts) {
  std::size_t at = script.find(kRegister);
  if (at == std::string_view::npos)
    return false;
  parts->core = script.substr(0, at);
  parts->languages.clear();
  while (at != std::string_view::npos) {
    const std::size_t nameStart = at + kRegister.size();
    const std::size_t nameEnd = script.find('"', nameStart);
    if (nameEnd == std::string_view::npos)
      return false;
    const std::size_t next = script.find(kRegister, nameEnd);
    const std::size_t end = next == std::string_view::npos ? script.size() : next;
    parts->languages.emplace_back(script.substr(nameStart, nameEnd - nameStart),
                                  script.substr(at, end - at));
    at = next;
  }
  return true;
}

bool IsBrushScript(std::string_view path) {
  return path.starts_with("scripts/shBrush");
}

std::vector<HighlighterFile> HighlighterFiles() {
  LibraryParts library;
  if (!SplitLibrary(Embedded(kLibraryName), &library))
    return {};
  const HighLight_CL brushes;
  // The adapter's table: each alias of each brush, and the language it is coloured as.
  std::string table = "{";
  for (const Brush& brush : brushes.brushes()) {
    const BrushLanguages* row = LanguagesOf(brush.scriptFile);
    if (!row)
      continue;
    for (const std::string& alias : brush.aliases) {
      if (table.size() > 1)
        table += ',';
      table.append("\"").append(alias).append("\":\"").append(FirstWord(row->languages));
      table += '"';
    }
  }
  table += '}';
  std::string adapter(Embedded(kAdapterName));
  if (const std::size_t mark = adapter.find(kBrushTableMark); mark != std::string::npos)
    adapter.replace(mark, kBrushTableMark.size(), table);

  std::vector<HighlighterFile> files;
  files.push_back({"scripts/shCore.js", std::string(library.core) + "\n" + adapter});
  for (const Brush& brush : brushes.brushes()) {
    const BrushLanguages* row = LanguagesOf(brush.scriptFile);
    std::string script;
    for (std::string_view rest = row ? row->languages : std::string_view(); !rest.empty();) {
      const std::string_view word = FirstWord(rest);
      for (const auto& [name, registration] : library.languages) {
        if (name == word)
          script.append(registration).push_back('\n');
      }
      rest.remove_prefix(std::min(rest.size(), word.size() + 1));
    }
    files.push_back({"scripts/" + brush.scriptFile, std::move(script)});
  }
  // The colours follow the reader's preference; the dark ones are the exception.
  std::string colours(Embedded(kLightName));
  colours.append("\n@media (prefers-color-scheme: dark) {\n")
      .append(Embedded(kDarkName))
      .append("\n}\n");
  files.push_back({"styles/shColours.css", std::move(colours)});
  return files;
}

}  // namespace tarvix
