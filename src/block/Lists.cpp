// Bulleted and numbered lists. Nesting follows the indentation of each item's line; a
// nested list is written between the items of its parent, after the item before it.
#include "core/DepthGuard.h"
#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

std::int32_t SaturatingAdd(std::int64_t a, std::int64_t b) {
  const std::int64_t sum = a + b;
  if (sum > INT32_MAX)
    return INT32_MAX;
  if (sum < INT32_MIN)
    return INT32_MIN;
  return static_cast<std::int32_t>(sum);
}

}  // namespace

std::int32_t Parser_CL::RenderBulletList(OutputPair& out, std::int32_t base) {
  return RenderList(out, base, false);
}

std::int32_t Parser_CL::RenderOrderedList(OutputPair& out, std::int32_t base) {
  return RenderList(out, base, true);
}

// The list at this level: items while the current token is this list's marker. The
// value returned tells the enclosing list where the line that ended this one stands.
int Parser_CL::RenderList(OutputPair& out, std::int32_t base, bool ordered) {
  DepthGuard guard(listDepth_);
  const std::uint32_t marker = ordered ? kind::Ordered : kind::Bullet;
  const std::int32_t start = current().count;
  // A bullet list's own indentation: the base, the blanks after a `*`, and the marker.
  const std::int32_t v = SaturatingAdd(SaturatingAdd(base, current().count), 1);
  std::int32_t result = base;
  // Items go straight into the caller's pair behind the opening tag: a list is never
  // taken back.
  OutputPair& local = out;
  if (ordered) {
    if (start == 1) {
      AppendHtml(out, "<ol>\n");
    } else {
      out.html.append("<ol start=\"").append(IntToText(start)).append("\">\n");
    }
  } else {
    AppendHtml(out, "<ul>\n");
  }
  while (current().Is(marker)) {
    NextToken(false);
    AppendHtml(local, "<li>");
    RenderInline(InlineMode::Paragraph, local, -1);
    AppendHtml(local, "</li>\n");

    std::int32_t w = 0;
    if (current().Is(kind::Sp)) {
      w = current().count;
      NextToken(false);
    }
    if (!ordered && current().Is(kind::Bullet))
      w = SaturatingAdd(SaturatingAdd(w, current().count), 1);
    result = w;

    const bool deeper = ordered ? w > SaturatingAdd(base, 2) : w > SaturatingAdd(v, 1);
    if (deeper && listDepth_ < kMaxListDepth) {
      const std::int32_t r =
          ordered ? RenderList(local, w, true)
                  : RenderList(local,
                               SaturatingAdd(SaturatingAdd(w, -std::int64_t{current().count}), -1),
                               false);
      if (r >= (ordered ? base : v))
        continue;
      result = r;
      break;
    }
    if (ordered ? w < base : (w < v && w > 0))
      break;
  }
  AppendHtml(out, ordered ? "</ol>\n" : "</ul>\n");
  return result;
}

}  // namespace tarvix
