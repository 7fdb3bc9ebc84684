// The output pair every renderer writes into: the source text it read and the HTML it
// made, both UTF-8. A construct that fails to match writes its source back as text.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "lex/Token.h"

namespace tarvix {

// What escaping does with each byte: 0 copy, 1 an entity, 2 hand to the UTF-8 cleaner
// (bytes of multi-byte characters, and NUL).
constexpr std::array<unsigned char, 256> MakeEscapeClassTable() {
  std::array<unsigned char, 256> t{};
  for (int b = 0x80; b < 256; ++b)
    t[b] = 2;
  t[0] = 2;
  for (char c : std::string_view("\"&'<>\\"))
    t[static_cast<unsigned char>(c)] = 1;
  return t;
}
inline constexpr std::array<unsigned char, 256> kEscapeClass = MakeEscapeClassTable();

struct OutputPair {
  std::string text;  // source bytes as read
  std::string html;  // well-formed UTF-8 HTML
  // Off for a pair whose source text nobody reads (the page body): appends to `text` are
  // then dropped instead of copying the document once more.
  bool keepText = true;
  // Markup (tags, references, breaks, text without its HTML) ends before here: from here
  // on the HTML is the escaped source text appended since. A construct that fails to
  // match can then keep what its inside wrote instead of escaping its source once more.
  std::size_t markupEnd = 0;
  // The literal tail: when `tailValid`, the HTML from `tailHtml` on is the escaped text
  // from `tailText` on, so a failed construct escapes only what lies before it.
  bool tailValid = false;
  std::size_t tailHtml = 0;
  std::size_t tailText = 0;

  void Clear() {
    text.clear();
    html.clear();
    markupEnd = 0;
    tailValid = false;
  }
  // Records that `html` now ends in markup (or text went without its HTML).
  void MarkMarkup() {
    markupEnd = html.size();
    tailValid = false;
  }
  // Before appending a token's text and its escaped HTML: starts the literal tail.
  void BeginLiteral() {
    if (!tailValid) {
      tailValid = true;
      tailHtml = html.size();
      tailText = text.size();
    }
  }
};

// Appends source bytes to `text` unchanged.
inline void AppendText(OutputPair& pair, std::string_view s) {
  if (pair.keepText)
    pair.text.append(s);
}
inline void AppendText(OutputPair& pair, char c) {
  if (pair.keepText)
    pair.text.push_back(c);
}
inline void AppendText(OutputPair& pair, const Token& t) {
  if (pair.keepText)
    t.AppendTextTo(pair.text);
}
// Appends markup the program made to `html` unchanged.
inline void AppendHtml(OutputPair& pair, std::string_view s) {
  pair.html.append(s);
  pair.MarkMarkup();
}
// Appends source text to `html` as characters, without escaping (markup: the text may hold
// a tag).
void AppendHtmlUtf8(OutputPair& pair, std::string_view s);
void AppendHtmlUtf8(OutputPair& pair, const Token& t);
// Appends source text to `html` as characters, HTML-escaped.
void AppendEscaped(OutputPair& pair, std::string_view s);
void AppendEscapedToken(OutputPair& pair, const Token& t);
inline void AppendEscaped(OutputPair& pair, const Token& t) {
  // Delimiters and punctuation written as text are single bytes that escaping keeps: they
  // cost no call.
  if (t.size == 1 && t.flags == 0 && kEscapeClass[static_cast<unsigned char>(t.data[0])] == 0) {
    pair.html.push_back(t.data[0]);
    return;
  }
  AppendEscapedToken(pair, t);
}

// Appends `s` to `out` cleaned to UTF-8 and with `"`, `&`, `'`, `<`, `>` and the backslash
// replaced by their entities (the backslash shows as a yen sign).
void AppendEscapedTo(std::string& out, std::string_view s);
[[nodiscard]] std::string EscapeHtml(std::string_view s);

}  // namespace tarvix
