// The library's conversion in memory, on a parser the caller made: the public
// ConvertDocument, and tests that set one of the parser's switches first.
#pragma once

#include <string_view>

#include "core/Parser_CL.h"
#include "tarvix/tarvix.h"

namespace tarvix {

// Converts `document` with `parser`, which has not run yet: the document and the template
// come from memory, the page and the messages go into the result.
[[nodiscard]] PageResult ConvertWith(Parser_CL& parser, std::string_view document,
                                     const PageOptions& options);

}  // namespace tarvix
