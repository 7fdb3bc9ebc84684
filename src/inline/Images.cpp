// Images: "![text](url "title")" and "![text][id]", wrapped with -imagelink in a link to
// the image itself that opens in a new window.
#include "core/Parser_CL.h"

namespace tarvix {

void Parser_CL::RenderImage(OutputPair& out, InlineMode mode) {
  NextToken(false);
  // An image inside image text is dropped from the HTML; the enclosing text goes on.
  if (mode == InlineMode::ImageText) {
    AppendText(out, "![");
    out.MarkMarkup();  // text without its HTML
    return;
  }
  const InPlace at = inPlace_.Begin(out, "![");
  RenderInline(InlineMode::ImageText, out, -1);
  std::string s;
  std::string url;
  std::string title;
  int hole = -1;
  bool matched = current().Is(kind::RightBracket);
  if (matched) {
    s.push_back(']');
    NextToken(false);
    matched =
        ReadLinkTarget(s, std::string_view(out.html).substr(at.html + at.opener), url, title, hole);
  }
  if (!matched) {
    inPlace_.WriteBack(out, at, s);
    return;
  }
  // The alternative text is the source text of the inside; its HTML is dropped.
  const std::string_view alt = std::string_view(out.text).substr(at.text + 2);
  inPlace_.Cut(out, at);
  auto emitImage = [&] {
    AppendHtml(out, "<img src=\"");
    AppendAddress(out, url, hole);
    AppendHtml(out, "\" alt=\"");
    AppendHtmlUtf8(out, alt);
    if (!title.empty()) {
      AppendHtml(out, "\" title=\"");
      AppendHtmlUtf8(out, title);
    }
    AppendHtml(out, "\" />");
  };
  if (options.imageLink) {
    AppendHtml(out, "<a href=\"");
    AppendAddress(out, url, hole);
    AppendHtml(out, "\" alt=\"");
    AppendHtmlUtf8(out, alt);
    AppendHtml(out, "\" target=\"_blank\">");
    emitImage();
    AppendHtml(out, "</a>");
  } else {
    emitImage();
  }
  out.text += s;
  out.MarkMarkup();
  inPlace_.End(out, at);
  NextToken(false);
}

}  // namespace tarvix
