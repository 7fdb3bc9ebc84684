// Eight bytes of text at a time: which bytes of a word equal a given byte. The scanners
// of long runs (code lines, heading ids) test a word at once and look at single bytes
// only where the word holds one they stop at.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tarvix {

// Word-at-a-time scanning reads the first byte of text as the lowest byte of a word.
inline constexpr bool kWordsLittleEndian = std::endian::native == std::endian::little;

[[nodiscard]] inline std::uint64_t LoadWord(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// The high bit of each byte of `word` that equals `byte`, and possibly of bytes above one
// that does: nonzero exactly when some byte equals it, and its lowest set bit marks the
// first such byte.
[[nodiscard]] constexpr std::uint64_t BytesEqual(std::uint64_t word, unsigned char byte) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t x = word ^ (kOnes * byte);
  return (x - kOnes) & ~x & kHighs;
}

// The high bit of each byte of `word` at or above 0x80.
[[nodiscard]] constexpr std::uint64_t HighBytes(std::uint64_t word) {
  return word & 0x8080808080808080ULL;
}

// The offset of the byte that `marks` (from BytesEqual) marks first.
[[nodiscard]] inline std::size_t FirstMarked(std::uint64_t marks) {
  return static_cast<std::size_t>(std::countr_zero(marks) / 8);
}

}  // namespace tarvix
