// Tokens: the unit every Markdown decision is taken on. A token's text is a slice of the
// input, with at most one blank folded in front (blank skipping) and one line end after it
// (a hard break), so copying a token never copies text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvix {

// Kind codes. A named kind's code is its mnemonic's bytes read as a little-endian integer;
// a single-character kind's code is the character. The bullet takes the code point of the
// halfwidth middle dot.
namespace kind {
inline constexpr std::uint32_t Eof = 0x00464F45;          // "EOF"
inline constexpr std::uint32_t Text = 0x54584554;         // "TEXT"
inline constexpr std::uint32_t Head = 0x44414548;         // "HEAD"
inline constexpr std::uint32_t Sp = 0x5053;               // "SP"
inline constexpr std::uint32_t Br = 0x5242;               // "BR"
inline constexpr std::uint32_t Lf = 0x464C;               // "LF"
inline constexpr std::uint32_t Bullet = 0xFF65;           // list bullet
inline constexpr std::uint32_t Ordered = 0x2E31;          // "1."
inline constexpr std::uint32_t Rule = 0x2D2D2D2D;         // "----"
inline constexpr std::uint32_t Strong = 0x2A2A;           // "**" and "__"
inline constexpr std::uint32_t Strike = 0x7E7E;           // "~~"
inline constexpr std::uint32_t ImageOpen = 0x5B21;        // "!["
inline constexpr std::uint32_t CaretOpen = 0x5E5B;        // "[^"
inline constexpr std::uint32_t DefinitionClose = 0x3A5D;  // "]:"
inline constexpr std::uint32_t Entity = 0x706D6126;       // "&amp"
inline constexpr std::uint32_t Align = 0x7C3A3A7C;        // "|::|"
inline constexpr std::uint32_t Equals = 0x3D;             // "=" run
inline constexpr std::uint32_t Backtick = 0x60;           // backtick run
inline constexpr std::uint32_t Quote = 0x22;
inline constexpr std::uint32_t Apostrophe = 0x27;
inline constexpr std::uint32_t LeftParen = 0x28;
inline constexpr std::uint32_t RightParen = 0x29;
inline constexpr std::uint32_t Star = 0x2A;
inline constexpr std::uint32_t Hyphen = 0x2D;
inline constexpr std::uint32_t Dot = 0x2E;
inline constexpr std::uint32_t Slash = 0x2F;
inline constexpr std::uint32_t Colon = 0x3A;
inline constexpr std::uint32_t Less = 0x3C;
inline constexpr std::uint32_t Greater = 0x3E;
inline constexpr std::uint32_t LeftBracket = 0x5B;
inline constexpr std::uint32_t RightBracket = 0x5D;
inline constexpr std::uint32_t Underscore = 0x5F;
inline constexpr std::uint32_t Pipe = 0x7C;
}  // namespace kind

struct Token {
  // Flags that complete the text around the slice.
  static constexpr std::uint8_t kLeadingSpace = 1;     // blanks skipped before the token
  static constexpr std::uint8_t kTrailingLineEnd = 2;  // the line end of a hard break
  // The `>` that the line-prefix rule hands out when a line's quote depth changes. Every
  // reader but the block-quote renderer stops at it as at the end of input.
  static constexpr std::uint8_t kDepthMark = 4;

  std::uint32_t code = kind::Eof;
  std::int32_t count = 0;
  const char* data = nullptr;
  std::size_t size = 0;
  std::uint8_t flags = 0;

  [[nodiscard]] bool Is(std::uint32_t k) const { return code == k; }
  [[nodiscard]] bool IsDepth() const { return (flags & kDepthMark) != 0; }
  // True at the end of input and at a depth token: the places where gathering stops.
  [[nodiscard]] bool EndsGathering() const { return code == kind::Eof || IsDepth(); }
  [[nodiscard]] std::string_view Slice() const { return {data, size}; }
  [[nodiscard]] std::size_t TextSize() const {
    return size + ((flags & kLeadingSpace) ? 1 : 0) + ((flags & kTrailingLineEnd) ? 1 : 0);
  }
  void AppendTextTo(std::string& out) const {
    if (flags & kLeadingSpace)
      out.push_back(' ');
    if (size == 1) {
      out.push_back(data[0]);
    } else {
      out.append(data, size);
    }
    if (flags & kTrailingLineEnd)
      out.push_back('\n');
  }
  [[nodiscard]] std::string Text() const {
    std::string s;
    AppendTextTo(s);
    return s;
  }
  [[nodiscard]] bool TextEquals(std::string_view s) const {
    if ((flags & (kLeadingSpace | kTrailingLineEnd)) == 0)
      return Slice() == s;
    return Text() == s;
  }
};

}  // namespace tarvix
