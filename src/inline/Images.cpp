// Images: "![text](url "title")" and "![text][id]", wrapped with -imagelink in a link to
// the image itself that opens in a new window.
#include "app/Parser_CL.h"

namespace tarvix {

void Parser_CL::RenderImage(OutputPair& out, InlineMode mode) {
  std::string s = "![";
  NextToken(false);
  // An image inside image text is dropped from the HTML; the enclosing text goes on.
  if (mode == InlineMode::ImageText) {
    AppendText(out, s);
    return;
  }
  OutputPair& inside = ScratchPair();
  RenderInline(InlineMode::ImageText, inside, -1);
  const std::string& alt = inside.text;
  s += alt;
  std::string url;
  std::string title;
  int hole = -1;
  bool matched = current().Is(kind::RightBracket);
  if (matched) {
    s.push_back(']');
    NextToken(false);
    matched = ReadLinkTarget(s, inside.html, url, title, hole);
  }
  if (!matched) {
    AppendEscaped(out, s);
    AppendText(out, s);
    return;
  }
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
  NextToken(false);
  AppendText(out, s);
}

}  // namespace tarvix
