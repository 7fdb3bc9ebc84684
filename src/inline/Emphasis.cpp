// Delimited spans: emphasis, strong, strikethrough and code spans. Each renderer reads
// the inside of its span through the dispatcher in its own mode, which returns at the
// candidate closer; a span that does not close is written back as its source text.
#include "core/Parser_CL.h"

namespace tarvix {
namespace {

// What may follow an emphasis closer.
bool EndsEmphasis(const Token& t) {
  return t.Is(kind::Sp) || t.Is(kind::Lf) || t.Is(kind::Br);
}

}  // namespace

void Parser_CL::RenderEmphasis(OutputPair& out, std::uint32_t delimiter, InlineMode mode) {
  const bool star = delimiter == kind::Star;
  const char d = star ? '*' : '_';
  // The opener's text, with the blank folded in front of it at a quoted line's start.
  const InPlace at = inPlace_.Begin(out, current().Text());
  NextToken(false);
  for (;;) {
    if (current().Is(kind::Eof))
      break;  // closes, as the end of input does here
    // While the inside is read, "* " after a word is a closer, not a bullet.
    if (star)
      lex.noBullet = true;
    RenderInline(mode, out, -1);
    if (star)
      lex.noBullet = false;
    if (!current().Is(delimiter) || current().IsDepth()) {
      inPlace_.WriteBack(out, at, {});
      return;
    }
    NextToken(false);
    if (EndsEmphasis(current()))
      break;
    // The delimiter stood inside a word.
    out.text.push_back(d);
    out.html.push_back(d);
  }
  out.text.push_back(d);
  inPlace_.Close(out, at, "<em>", "</em>", 1);
}

void Parser_CL::RenderStarEmphasis(OutputPair& out) {
  RenderEmphasis(out, kind::Star, InlineMode::StarEmphasis);
}

void Parser_CL::RenderUnderscoreEmphasis(OutputPair& out) {
  RenderEmphasis(out, kind::Underscore, InlineMode::UnderscoreEmphasis);
}

void Parser_CL::RenderSpan(OutputPair& out, std::uint32_t opener, InlineMode mode,
                           std::string_view openTag, std::string_view closeTag) {
  const InPlace at = inPlace_.Begin(out, current().Text());
  NextToken(false);
  RenderInline(mode, out, -1);
  if (!current().Is(opener) || current().IsDepth()) {
    inPlace_.WriteBack(out, at, {});
    return;
  }
  current().AppendTextTo(out.text);
  inPlace_.Close(out, at, openTag, closeTag, current().TextSize());
  NextToken(false);
}

void Parser_CL::RenderStrong(OutputPair& out) {
  RenderSpan(out, kind::Strong, InlineMode::Strong, "<strong>", "</strong>");
}

void Parser_CL::RenderStrike(OutputPair& out) {
  RenderSpan(out, kind::Strike, InlineMode::Strike, "<del>", "</del>");
}

void Parser_CL::RenderCodeSpan(OutputPair& out) {
  const std::int32_t n = current().count;
  const std::size_t close = lex.PlainCodeSpanEnd(n);
  if (close != std::string_view::npos && !inPlace_.AnyOpen()) {
    // A span that closes on its line, with no construct open around it that could fail
    // and need its source: its tags and bytes go straight into the pair.
    const std::size_t from = lex.Mark().pos - 1;
    const std::string_view inside = lex.Bytes().substr(from, close - from);
    if (out.keepText) {
      current().AppendTextTo(out.text);
      out.text.append(inside);
      out.text.append(lex.Bytes().substr(close, static_cast<std::size_t>(n)));
    }
    out.html.append("<code>");
    AppendEscapedTo(out.html, inside);
    out.html.append("</code>");
    out.MarkMarkup();
    lex.escapes = 1;
    lex.MoveTo(close + static_cast<std::size_t>(n));
    NextToken(false);
    return;
  }
  const InPlace at = inPlace_.Begin(out, current().Text());
  // Backslashes are code text until the closing run.
  lex.escapes = 0;
  if (close != std::string_view::npos) {
    // Every token inside would write its own bytes: they are written in one piece.
    const std::size_t from = lex.Mark().pos - 1;
    const std::string_view inside = lex.Bytes().substr(from, close - from);
    out.BeginLiteral();
    AppendText(out, inside);
    AppendEscaped(out, inside);
    lex.MoveTo(close);
    NextToken(false);
  } else {
    NextToken(false);
    RenderInline(InlineMode::CodeSpan, out, n);
  }
  if (!current().Is(kind::Backtick) || current().IsDepth()) {
    lex.escapes = 1;
    inPlace_.WriteBack(out, at, {});
    return;
  }
  current().AppendTextTo(out.text);
  inPlace_.Close(out, at, "<code>", "</code>", current().TextSize());
  lex.escapes = 1;
  NextToken(false);
}

}  // namespace tarvix
