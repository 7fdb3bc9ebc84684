// The HTML of a caret link: written by the link renderer when the target is known, and by
// the first pass's completion into the holes of links whose target came later.
#pragma once

#include <string>

#include "html/OutputPair.h"

namespace tarvix {

// The HTML of a caret link to `target` labelled "^id".
inline void AppendCaretLink(OutputPair& out, const std::string& target, const std::string& id) {
  AppendHtml(out, "<a href=\"");
  AppendHtml(out, target);
  AppendHtml(out, "\" alt=\"");
  AppendHtmlUtf8(out, id);
  AppendHtml(out, "\">^");
  AppendHtmlUtf8(out, id);
  AppendHtml(out, "</a>");
}

}  // namespace tarvix
