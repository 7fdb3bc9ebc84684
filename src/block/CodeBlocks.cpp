// Code blocks: indented lines and fenced blocks, written as escaped `pre` elements. A
// fenced block that names a known brush gets the highlighter's class and marks the brush
// used, so that the page loads its script.
#include "app/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Blanks that make a line code rather than paragraph text.
constexpr std::int32_t kCodeIndent = 4;

}  // namespace

void Parser_CL::RenderIndentedCode(OutputPair& out) {
  std::string code;
  for (;;) {
    const Token& t = current();
    if (!(t.Is(kind::Sp) || t.Is(kind::Br)) || t.count < kCodeIndent)
      break;
    // Blanks beyond the fourth belong to the code line.
    const std::string text = t.Text();
    code.append(text, kCodeIndent, std::string::npos);
    if (t.Is(kind::Br)) {
      NextToken(false);
      continue;
    }
    lex.escapes = 0;
    NextToken(false);
    code += CollectUntil(kind::Lf, -1);
    if (current().Is(kind::Lf)) {
      code.push_back('\n');
      NextToken(false);
    }
  }
  lex.escapes = 1;
  AppendText(out, code);
  out.html.append("<pre>");
  AppendEscaped(out, code);
  out.html.append("</pre>\n");
}

void Parser_CL::RenderFencedCode(OutputPair& out) {
  const std::int32_t n = current().count;
  lex.escapes = 0;
  NextToken(false);
  std::string info;
  if (!current().Is(kind::Lf))
    info = CollectCode(n);
  std::string code = info;
  if (current().Is(kind::Lf))
    NextToken(false);

  std::string brushName;
  bool withBrush = false;
  if (!(current().Is(kind::Backtick) && current().count == n)) {
    brushName = std::string(Trim(CleanUtf8(info)));
    if (Brush* brush = highLight.Find(brushName)) {
      brush->used = 1;
      withBrush = true;
    }
    // The closing run may stand anywhere, also inside a line.
    code = CollectUntil(kind::Backtick, n);
  }
  lex.escapes = 1;
  // A fence left open inside a quote ends where the quote ends; the depth token stays.
  if (!current().IsDepth())
    NextToken(false);

  AppendText(out, code);
  if (withBrush) {
    out.html.append("<pre class=\"brush: ").append(brushName).append(";\">");
  } else {
    out.html.append("<pre>");
  }
  AppendEscaped(out, code);
  out.html.append("</pre>\n");
}

}  // namespace tarvix
