// Everything that starts with `<`: HTML comments (which feed the document header), tags
// passed into the page unchanged, and web or e-mail addresses between angle brackets.
#include "lex/Angle.h"

#include <string>
#include <string_view>

#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

// The characters a web address may go on with after "://".
bool IsWebAddressChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  return std::string_view("_/:%#$&?()~.=+-").find(c) != std::string_view::npos;
}

}  // namespace

// "http" or "https", "://" and at least one address character, anywhere in the text.
// Matched by hand: a general pattern matcher recurses with the length of the text.
bool IsWebAddress(std::string_view text) {
  std::size_t at = 0;
  while ((at = text.find("http", at)) != std::string_view::npos) {
    std::size_t p = at + 4;
    if (p < text.size() && text[p] == 's')
      ++p;
    if (text.substr(p, 3) == "://" && p + 3 < text.size() && IsWebAddressChar(text[p + 3])) {
      return true;
    }
    ++at;
  }
  return false;
}

// Some "@" with a character that is not a line end on each side of it.
bool IsMailAddress(std::string_view text) {
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '@' && !IsLineEnd(text[i - 1]) && !IsLineEnd(text[i + 1]))
      return true;
  }
  return false;
}

std::string EncodeEmail(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(text.size() * 6);
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    s.append("&#x");
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
    s.push_back(';');
  }
  return s;
}

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
