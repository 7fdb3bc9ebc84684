// Block quotes. The line-prefix rule of the token source hands out one depth token
// whenever a line's count of `>` markers differs from the open depth; this renderer turns
// the difference into tags. What lies between is rendered by the ordinary blocks.
#include "core/Parser_CL.h"

namespace tarvix {

void Parser_CL::RenderBlockQuote(OutputPair& out) {
  if (!current().Is(kind::Greater))
    return;
  const std::int32_t n = current().count;
  for (std::int32_t d = quoteDepth; d < n; ++d)
    AppendHtml(out, "<blockquote>");
  for (std::int32_t d = n; d < quoteDepth; ++d)
    AppendHtml(out, "</blockquote>");
  quoteDepth = n;
  NextToken(false);
}

}  // namespace tarvix
