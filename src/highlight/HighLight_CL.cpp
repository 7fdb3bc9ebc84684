// The brush table and the script tags.
#include "highlight/HighLight_CL.h"

#include <cassert>

#include "text/Text.h"

namespace tarvix {
namespace {

struct BrushRow {
  std::string_view aliases;  // comma-separated, as the table writes them
  std::string_view scriptFile;
  std::string_view displayName;
};

// A new brush is a new row; the order is the order of the script tags.
constexpr BrushRow kBrushRows[] = {
    {"as3, actionscript3", "shBrushAS3.js", "ActionScript3"},
    {"bash, shell", "shBrushBash.js", "Bash/shell"},
    {"cf, coldfusion", "shBrushColdFusion.js", "ColdFusion"},
    {"c-sharp, csharp", "shBrushCSharp.js", "C#"},
    {"cpp, c", "shBrushCpp.js", "C++"},
    {"css", "shBrushCss.js", "CSS"},
    {"delphi, pas, pascal", "shBrushDelphi.js", "Delphi"},
    {"diff, patch", "shBrushDiff.js", "Diff"},
    {"erl, erlang", "shBrushErlang.js", "Erlang"},
    {"groovy", "shBrushGroovy.js", "Groovy"},
    {"js, jscript, javascript", "shBrushJScript.js", "JavaScript"},
    {"java", "shBrushJava.js", "Java"},
    {"jfx, javafx", "shBrushJavaFX.js", "JavaFX"},
    {"perl, pl", "shBrushPerl.js", "Perl"},
    {"php", "shBrushPhp.js", "PHP"},
    {"plain, text", "shBrushPlain.js", "Plain Text"},
    {"ps, powershell", "shBrushPowerShell.js", "PowerShell"},
    {"py, python", "shBrushPython.js", "Python"},
    {"rails, ror, ruby", "shBrushRuby.js", "Ruby"},
    {"scala", "shBrushScala.js", "Scala"},
    {"sql", "shBrushSql.js", "SQL"},
    {"vb, vbnet", "shBrushVb.js", "Visual Basic"},
    {"xml, xhtml, xslt, html, xhtml", "shBrushXml.js", "XML"},
};

// No alias is longer than this, so a longer name need not be lowered: every fenced block
// asks, and a lookup costs no allocation.
constexpr std::size_t kLongestAlias = 16;

constexpr std::string_view kScriptOpen = "<script type=\"text/javascript\" src=\"";
constexpr std::string_view kScriptClose = "\"></script>\n";
constexpr std::string_view kStartCall =
    "<script type=\"text/javascript\">SyntaxHighlighter.all();</script>";

}  // namespace

HighLight_CL::HighLight_CL() {
  brushes_.reserve(std::size(kBrushRows));
  for (const BrushRow& row : kBrushRows) {
    Brush brush;
    brush.displayName = row.displayName;
    brush.scriptFile = row.scriptFile;
    std::string_view rest = row.aliases;
    while (true) {
      const std::size_t comma = rest.find(',');
      std::string alias(Trim(AsciiLowerCase(rest.substr(0, comma))));
      bool seen = false;
      for (const std::string& a : brush.aliases)
        seen = seen || a == alias;
      assert(alias.size() <= kLongestAlias);
      if (!seen)
        brush.aliases.push_back(std::move(alias));
      if (comma == std::string_view::npos)
        break;
      rest.remove_prefix(comma + 1);
    }
    brushes_.push_back(std::move(brush));
  }
  for (std::size_t b = 0; b < brushes_.size(); ++b) {
    for (const std::string& alias : brushes_[b].aliases)
      aliases_.push_back({alias, b});
  }
}

Brush* HighLight_CL::Find(std::string_view name) {
  if (name.size() > kLongestAlias)
    return nullptr;
  char buffer[kLongestAlias];
  for (std::size_t i = 0; i < name.size(); ++i)
    buffer[i] = AsciiLower(name[i]);
  const std::string_view lowered(buffer, name.size());
  for (const AliasRow& row : aliases_) {
    if (row.alias == lowered)
      return &brushes_[row.brush];
  }
  return nullptr;
}

std::string HighLight_CL::ScriptTags(std::string_view folder) const {
  std::string s;
  bool any = false;
  s.append(kScriptOpen).append(folder).append("/scripts/shCore.js").append(kScriptClose);
  for (const Brush& brush : brushes_) {
    if (!brush.used)
      continue;
    any = true;
    s.append(kScriptOpen).append(folder).append("/scripts/").append(brush.scriptFile);
    s.append(kScriptClose);
  }
  if (!any)
    return {};
  s.append(kStartCall);
  return s;
}

}  // namespace tarvix
