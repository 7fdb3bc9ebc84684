// Escaping and the append operations of the output pair.
#include "html/OutputPair.h"

#include <array>
#include <bit>

#include "text/ByteScan.h"
#include "text/Text.h"

namespace tarvix {
namespace {

std::string_view EntityFor(char c) {
  switch (c) {
    case '"':
      return "&quot;";
    case '&':
      return "&amp;";
    case '\'':
      return "&apos;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    default:
      return "&yen;";
  }
}

}  // namespace

void AppendEscapedTo(std::string& out, std::string_view s) {
  const std::size_t n = s.size();
  std::size_t i = 0;
  while (i < n) {
    // Up to the next byte that becomes an entity. No ill-formed sequence reaches past an
    // ASCII byte, so cleaning the piece alone gives what cleaning the whole text would,
    // and a piece without multi-byte characters is copied as it is.
    std::size_t run = i;
    unsigned char seen = 0;
    while (kBlockScan && run + 16 <= n) {
      std::uint32_t clean = 0;
      const std::uint32_t entities = EntityBytes16(s.data() + run, &clean);
      if (entities == 0) {
        seen |= clean != 0 ? 2 : 0;
        run += 16;
        continue;
      }
      const auto taken = static_cast<std::uint32_t>(std::countr_zero(entities));
      seen |= (clean & ((1u << taken) - 1)) != 0 ? 2 : 0;
      run += taken;
      break;
    }
    while (run < n) {
      const unsigned char k = kEscapeClass[static_cast<unsigned char>(s[run])];
      if (k == 1)
        break;
      seen |= k;
      ++run;
    }
    if (seen != 0) {
      AppendCleanUtf8(out, s.substr(i, run - i));
    } else if (run - i == 1) {
      out.push_back(s[i]);
    } else {
      out.append(s.data() + i, run - i);
    }
    if (run == n)
      return;
    out.append(EntityFor(s[run]));
    i = run + 1;
  }
}

std::string EscapeHtml(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  AppendEscapedTo(out, s);
  return out;
}

void AppendHtmlUtf8(OutputPair& pair, std::string_view s) {
  AppendCleanUtf8(pair.html, s);
  pair.MarkMarkup();
}

void AppendHtmlUtf8(OutputPair& pair, const Token& t) {
  if (t.flags & Token::kLeadingSpace)
    pair.html.push_back(' ');
  AppendCleanUtf8(pair.html, t.Slice());
  if (t.flags & Token::kTrailingLineEnd)
    pair.html.push_back('\n');
  pair.MarkMarkup();
}

void AppendEscaped(OutputPair& pair, std::string_view s) {
  AppendEscapedTo(pair.html, s);
}

void AppendEscapedToken(OutputPair& pair, const Token& t) {
  if (t.flags & Token::kLeadingSpace)
    pair.html.push_back(' ');
  AppendEscapedTo(pair.html, t.Slice());
  if (t.flags & Token::kTrailingLineEnd)
    pair.html.push_back('\n');
}

}  // namespace tarvix
