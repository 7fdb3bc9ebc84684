// Delimited spans: emphasis, strong, strikethrough and code spans. Each renderer reads
// the inside of its span through the dispatcher in its own mode, which returns at the
// candidate closer; a span that does not close is written back as its source text.
#include "app/Parser_CL.h"

namespace tarvix {
namespace {

// What may follow an emphasis closer.
bool EndsEmphasis(const Token& t) {
  return t.Is(kind::Sp) || t.Is(kind::Lf) || t.Is(kind::Br);
}

void WriteBack(OutputPair& out, const std::string& source) {
  AppendText(out, source);
  AppendEscaped(out, source);
}

}  // namespace

void Parser_CL::RenderEmphasis(OutputPair& out, std::uint32_t delimiter, InlineMode mode) {
  const bool star = delimiter == kind::Star;
  const char d = star ? '*' : '_';
  // The opener's text, with the blank folded in front of it at a quoted line's start.
  std::string source = current().Text();
  NextToken(false);
  OutputPair& inside = ScratchPair();
  for (;;) {
    if (current().Is(kind::Eof))
      break;  // closes, as the end of input does here
    // While the inside is read, "* " after a word is a closer, not a bullet.
    if (star)
      lex.noBullet = true;
    RenderInline(mode, inside, -1);
    if (star)
      lex.noBullet = false;
    if (!current().Is(delimiter) || current().IsDepth()) {
      source += inside.text;
      WriteBack(out, source);
      return;
    }
    NextToken(false);
    if (EndsEmphasis(current()))
      break;
    // The delimiter stood inside a word.
    inside.text.push_back(d);
    inside.html.push_back(d);
  }
  AppendText(out, source);
  AppendText(out, inside.text);
  AppendText(out, d);
  AppendHtml(out, "<em>");
  AppendHtml(out, inside.html);
  AppendHtml(out, "</em>");
}

void Parser_CL::RenderStarEmphasis(OutputPair& out) {
  RenderEmphasis(out, kind::Star, InlineMode::StarEmphasis);
}

void Parser_CL::RenderUnderscoreEmphasis(OutputPair& out) {
  RenderEmphasis(out, kind::Underscore, InlineMode::UnderscoreEmphasis);
}

void Parser_CL::RenderSpan(OutputPair& out, std::uint32_t opener, InlineMode mode,
                           std::string_view openTag, std::string_view closeTag) {
  std::string source = current().Text();
  NextToken(false);
  OutputPair& inside = ScratchPair();
  RenderInline(mode, inside, -1);
  source += inside.text;
  if (!current().Is(opener) || current().IsDepth()) {
    WriteBack(out, source);
    return;
  }
  current().AppendTextTo(source);
  AppendHtml(out, openTag);
  AppendHtml(out, inside.html);
  AppendHtml(out, closeTag);
  NextToken(false);
  AppendText(out, source);
}

void Parser_CL::RenderStrong(OutputPair& out) {
  RenderSpan(out, kind::Strong, InlineMode::Strong, "<strong>", "</strong>");
}

void Parser_CL::RenderStrike(OutputPair& out) {
  RenderSpan(out, kind::Strike, InlineMode::Strike, "<del>", "</del>");
}

void Parser_CL::RenderCodeSpan(OutputPair& out) {
  const std::int32_t n = current().count;
  std::string source = current().Text();
  // Backslashes are code text until the closing run.
  lex.escapes = 0;
  NextToken(false);
  OutputPair& inside = ScratchPair();
  RenderInline(InlineMode::CodeSpan, inside, n);
  source += inside.text;
  if (!current().Is(kind::Backtick) || current().IsDepth()) {
    AppendEscaped(out, source);
    lex.escapes = 1;
    AppendText(out, source);
    return;
  }
  current().AppendTextTo(source);
  AppendHtml(out, "<code>");
  AppendHtml(out, inside.html);
  AppendHtml(out, "</code>");
  lex.escapes = 1;
  NextToken(false);
  AppendText(out, source);
}

}  // namespace tarvix
