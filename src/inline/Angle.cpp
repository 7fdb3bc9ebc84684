// Everything that starts with `<`: HTML comments (which feed the document header), tags
// passed into the page unchanged, and web or e-mail addresses between angle brackets.
#include "lex/Angle.h"

#include <string>
#include <string_view>

#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {

std::string Parser_CL::ReadTagName(bool closing) {
  std::string name;
  for (;;) {
    const Token& t = current();
    if (t.EndsGathering() || t.Is(kind::Greater) || t.Is(kind::Sp))
      break;
    if (closing && t.Is(kind::Slash))
      break;
    t.AppendTextTo(name);
    NextToken(false);
  }
  return name;
}

void Parser_CL::RenderAngle(OutputPair& out) {
  std::string raw = "<";
  bool hasAttributes = false;
  bool isWebLink = false;
  bool isMailLink = false;
  auto take = [this, &raw] {
    current().AppendTextTo(raw);
    NextToken(false);
  };
  NextToken(false);

  enum class Outcome { Close, Escaped };
  Outcome outcome = Outcome::Close;
  bool comment = false;
  if (current().TextEquals("!")) {
    take();
    if (current().TextEquals("--")) {
      take();
      comment = true;
      if (!ReadHeaderComment(raw, header))
        outcome = Outcome::Escaped;
    }
  }
  if (!comment) {
    if (current().Is(kind::Slash)) {
      take();
      raw += ReadTagName(true);
    } else if (!current().Is(kind::Text)) {
      outcome = Outcome::Escaped;
    } else {
      raw += ReadTagName(false);
      for (;;) {
        if (current().IsDepth()) {
          outcome = Outcome::Escaped;
          break;
        }
        if (current().Is(kind::Sp)) {
          raw.push_back(' ');
          NextToken(false);
        }
        SkipSpaces();
        if (current().Is(kind::Text)) {
          hasAttributes = true;
          take();
          SkipSpaces();
          if (current().Is(kind::Equals)) {
            take();
            SkipSpaces();
            const std::uint32_t quote = current().code;
            if (current().IsDepth() || (quote != kind::Apostrophe && quote != kind::Quote)) {
              outcome = Outcome::Escaped;
              break;
            }
            take();
            raw += CollectUntil(quote, -1);
            if (!current().Is(quote) || current().IsDepth()) {
              outcome = Outcome::Escaped;
              break;
            }
            take();
          }
        }
        if (current().IsDepth()) {
          outcome = Outcome::Escaped;
          break;
        }
        if (current().Is(kind::Greater))
          break;
        if (!hasAttributes) {
          // An empty-element tag ("<br />") passes like any tag.
          if (current().Is(kind::Slash) && lex.PeekChar() == '>') {
            take();
            break;
          }
          // Anything else after a bare name is no tag: its source shows as text.
          outcome = Outcome::Escaped;
          break;
        }
        // The end of input inside a tag ends the attempt.
        if (current().Is(kind::Eof)) {
          outcome = Outcome::Escaped;
          break;
        }
        take();
      }
      if (outcome == Outcome::Close && !hasAttributes) {
        const std::string_view address = std::string_view(raw).substr(1);
        isWebLink = IsWebAddress(address);
        if (!isWebLink)
          isMailLink = IsMailAddress(address);
      }
    }
  }
  if (outcome == Outcome::Close) {
    SkipSpaces();
    if (!current().Is(kind::Greater) || current().IsDepth()) {
      outcome = Outcome::Escaped;
    } else {
      take();
    }
  }
  if (outcome == Outcome::Close) {
    const std::string_view inside = std::string_view(raw).substr(1, raw.size() - 2);
    if (isWebLink || isMailLink) {
      const std::string x = isWebLink ? std::string(inside) : EncodeEmail(inside);
      AppendHtml(out, isWebLink ? "<a href=\"" : "<a href=\"mailto:");
      AppendHtmlUtf8(out, x);
      AppendHtml(out, "\" title=\"");
      AppendHtmlUtf8(out, x);
      AppendHtml(out, "\">");
      AppendHtmlUtf8(out, x);
      AppendHtml(out, "</a>");
    } else {
      AppendHtmlUtf8(out, raw);
    }
  } else {
    AppendEscaped(out, raw);
  }
  AppendText(out, raw);
}

}  // namespace tarvix
