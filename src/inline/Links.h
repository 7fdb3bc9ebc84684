// What the link renderers share with the rest of the converter.
#pragma once

#include <string>

#include "html/OutputPair.h"

namespace tarvix {

// The HTML of a caret link to `target` labelled "^id".
void AppendCaretLink(OutputPair& out, const std::string& target, const std::string& id);

}  // namespace tarvix
