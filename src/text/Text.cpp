#include "text/Text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <vector>

#include "platform/Platform.h"
#include "text/ByteScan.h"

namespace tarvix {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// True when all eight bytes at `p` are ASCII and none is NUL, so they can be copied as they
// are. Checking a word at a time keeps the common all-ASCII text cheap.
bool IsPlainAsciiWord(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
  const bool hasHighByte = (word & kHighBits) != 0;
  const bool hasZeroByte = ((word - kLowBits) & ~word & kHighBits) != 0;
  return !hasHighByte && !hasZeroByte;
}

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// What the cleaner needs to know of each byte, in one table so that no byte costs a chain
// of comparisons: a byte that stands alone (ASCII but NUL) is itself, one that can never
// start a character (NUL, a continuation byte, C0, C1, F5 to FF) is one U+FFFD, and a lead
// byte (C2 to F4) wants `length - 1` continuation bytes, of which the second byte has a
// narrower range after E0, ED, F0 and F4 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
struct ByteClass {
  // The bytes a lone byte becomes and how many of them count: written as one word, the
  // extra bytes fall where the next bytes go.
  unsigned char single[4] = {0xEF, 0xBF, 0xBD, 0};
  unsigned char singleLength = 3;
  unsigned char length = 0;  // of the sequence a lead byte starts; 0 for any other byte
  unsigned char secondLow = 0x80;
  unsigned char secondSpan = 0x3F;  // the second byte is secondLow to secondLow + secondSpan
};

constexpr std::array<ByteClass, 256> MakeByteClasses() {
  std::array<ByteClass, 256> t{};
  for (unsigned b = 1; b < 0x80; ++b) {
    t[b].single[0] = static_cast<unsigned char>(b);
    t[b].singleLength = 1;
  }
  for (unsigned b = 0xC2; b <= 0xF4; ++b)
    t[b].length = b <= 0xDF ? 2 : b <= 0xEF ? 3 : 4;
  t[0xE0].secondLow = 0xA0;
  t[0xE0].secondSpan = 0x1F;
  t[0xED].secondSpan = 0x1F;
  t[0xF0].secondLow = 0x90;
  t[0xF0].secondSpan = 0x2F;
  t[0xF4].secondSpan = 0x0F;
  return t;
}
constexpr std::array<ByteClass, 256> kByteClasses = MakeByteClasses();

// The four bytes at `p`, or as many as there are followed by NUL, which continues nothing.
void LoadFour(const unsigned char* p, std::size_t available, unsigned char* four) {
  if (available >= 4) {
    std::memcpy(four, p, 4);
    return;
  }
  std::memset(four, 0, 4);
  std::memcpy(four, p, available);
}

// Of the sequence the lead byte `four[0]` starts (its class `c`), how many bytes belong to
// it: all `c.length` when it is well-formed, else those of its maximal ill-formed subpart,
// the lead and the continuation bytes that could still have completed it.
std::size_t SequenceTaken(const ByteClass& c, const unsigned char* four) {
  const bool second = static_cast<unsigned char>(four[1] - c.secondLow) <= c.secondSpan;
  const bool third = second && IsContinuation(four[2]) && c.length >= 3;
  const bool fourth = third && IsContinuation(four[3]) && c.length == 4;
  return 1 + std::size_t{second} + std::size_t{third} + std::size_t{fourth};
}

// The length of the well-formed sequence that starts with the non-ASCII byte at p[0], or 0
// when it is ill-formed; then `*bad` is the length of its maximal subpart (at least 1).
std::size_t SequenceLength(const unsigned char* p, std::size_t available, std::size_t* bad) {
  const ByteClass& c = kByteClasses[p[0]];
  if (c.length == 0) {
    *bad = 1;
    return 0;
  }
  unsigned char four[4];
  LoadFour(p, available, four);
  const std::size_t taken = SequenceTaken(c, four);
  if (taken == c.length)
    return taken;
  *bad = taken;
  return 0;
}

// Damaged text is cleaned sixteen bytes at a time straight into the page: a block may grow
// to three times its size (each byte a U+FFFD), and a byte's word reaches one byte further.
constexpr std::size_t kDamagedBlock = 16;
constexpr std::size_t kDamagedRoom = 3 * kDamagedBlock + 8;
// The page is grown ahead of the cleaner (never past its reserve) so the resize that makes
// room is not paid block by block: twice as far each time in one stretch, up to this far. A
// short stretch, as in text with a foreign letter now and then, resizes the page only a
// little; the bytes it grows by are written twice, once by the resize.
constexpr std::size_t kDamagedAhead = 4096;

// U+FFFD and a lone byte as the words the block loop stores, in the machine's byte order.
constexpr std::uint32_t kReplacementWord =
    std::endian::native == std::endian::little ? 0x00BDBFEFu : 0xEFBFBD00u;
constexpr std::uint32_t ByteWord(unsigned char b) {
  return std::endian::native == std::endian::little ? b : std::uint32_t{b} << 24;
}

// True when the text at `p` goes on well-formed for a while: the block loop hands it back to
// the scan that copies clean text in one piece.
bool CleanAhead(const char* p, std::size_t available) {
  if (kBlockScan && available >= 16)
    return WellFormedUtf8Prefix16(p) == 16;
  const auto* bytes = reinterpret_cast<const unsigned char*>(p);
  return available >= 16 && IsPlainAsciiWord(bytes) && IsPlainAsciiWord(bytes + 8);
}

// Writes the `n` bytes of the block at `p` cleaned to `dst` (kDamagedRoom bytes) and returns
// the end of what it wrote. `keep` has the bits of the bytes of well-formed sequences, which
// stay as they are; `claimed` those a sequence begun before them holds, which write nothing
// of their own; every other byte starts a maximal ill-formed subpart and writes U+FFFD. No
// byte costs a branch on which it is.
char* WriteCleanBlock(const char* p, std::size_t n, std::uint32_t keep, std::uint32_t claimed,
                      char* dst) {
  if (n == kDamagedBlock && (keep & 0xFFFF) == 0xFFFF) {
    std::memcpy(dst, p, kDamagedBlock);
    return dst + kDamagedBlock;
  }
  // Masks rather than conditions: the compiler would make these branches, which random
  // bytes leave the processor no way to guess.
  for (std::size_t k = 0; k < n; ++k) {
    const std::uint32_t kept = 0u - (keep >> k & 1);
    const std::uint32_t starts = ~claimed >> k & 1;
    const std::uint32_t word =
        (ByteWord(static_cast<unsigned char>(p[k])) & kept) | (kReplacementWord & ~kept);
    std::memcpy(dst, &word, sizeof word);
    dst += (1 & kept) | (3 * starts & ~kept);
  }
  return dst;
}

// Cleans the damaged text from s[i] on into the end of `out` until well-formed text comes
// back (or the text ends); returns where it stopped, always where a sequence starts. The
// cleaned bytes are written once, in their place in `out`: the page is resized ahead within
// its reserve and cut back to what was written. Only a page with no room left in its
// reserve takes its blocks through a small buffer, so that it grows as an append would.
std::size_t CleanDamaged(std::string& out, const char* s, std::size_t size, std::size_t i) {
  std::size_t used = out.size();
  char spare[kDamagedRoom];
  std::size_t ahead = 2 * kDamagedRoom;
  // What the blocks before claimed of this one's first bytes.
  std::uint32_t carryClaimed = 0;
  std::uint32_t carryKept = 0;
  bool first = true;
  while (i < size) {
    if (!first && carryClaimed == 0 && CleanAhead(s + i, size - i))
      break;
    first = false;
    const std::size_t n = std::min(kDamagedBlock, size - i);
    // The claims look three bytes past the block; near the end they see NUL, which
    // continues nothing.
    const char* p = s + i;
    char padded[kDamagedBlock + 16] = {};
    if (size - i < kDamagedBlock + 3) {
      std::memcpy(padded, p, size - i);
      p = padded;
    }
    const Utf8Claims16 claims = Utf8Claims16Of(p);
    const std::uint32_t claimed = claims.claimed | carryClaimed;
    const std::uint32_t keep = claims.wellFormed | claims.wellFormedClaimed | carryKept;
    carryClaimed = claimed >> kDamagedBlock;
    carryKept = (claims.wellFormedClaimed | carryKept) >> kDamagedBlock;
    if (out.capacity() - used >= kDamagedRoom) {
      if (out.size() - used < kDamagedRoom) {
        // Room for what the rest can become, within the reserve.
        const std::size_t wanted = std::min(3 * (size - i) + kDamagedRoom, ahead);
        out.resize(std::min(out.capacity(), used + std::max(wanted, kDamagedRoom)));
        ahead = std::min(2 * ahead, kDamagedAhead);
      }
      char* const from = out.data() + used;
      used += static_cast<std::size_t>(WriteCleanBlock(p, n, keep, claimed, from) - from);
    } else {
      out.resize(used);
      const char* const end = WriteCleanBlock(p, n, keep, claimed, spare);
      out.append(spare, static_cast<std::size_t>(end - spare));
      used = out.size();
    }
    i += n;
  }
  out.resize(used);
  return i;
}

std::vector<std::string_view> PathComponents(std::string_view path, char separator) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(separator, start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    if (end > start) {
      components.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return components;
}

// The position of the dot that starts the extension of the last name in `path`, or npos.
std::size_t ExtensionDot(std::string_view path) {
  const char stops[] = {platform::kPathSeparator, '.'};
  const std::size_t pos = path.find_last_of(std::string_view(stops, sizeof stops));
  if (pos != std::string_view::npos && path[pos] == '.') {
    return pos;
  }
  return std::string_view::npos;
}

std::string ReplaceChar(std::string_view text, char from, char to) {
  std::string result(text);
  if (from != to) {
    for (char& c : result) {
      if (c == from) {
        c = to;
      }
    }
  }
  return result;
}

}  // namespace

void AppendCleanUtf8(std::string& out, std::string_view s) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t size = s.size();
  // Bytes from runStart up to i are known good and are appended in one piece.
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < size) {
    if (kBlockScan && size - i >= 16) {
      const std::size_t taken = WellFormedUtf8Prefix16(s.data() + i);
      if (taken != 0) {
        i += taken;
        continue;
      }
    } else if (size - i >= 8 && IsPlainAsciiWord(bytes + i)) {
      i += 8;
      continue;
    }
    const unsigned char c = bytes[i];
    if (c != 0 && c < 0x80) {
      ++i;
      continue;
    }
    // Most letters of Japanese and Chinese text are three bytes whose lead byte allows any
    // continuation byte second: they pass here without the full test.
    if (c >= 0xE1 && c <= 0xEF && c != 0xED && size - i >= 3 && IsContinuation(bytes[i + 1]) &&
        IsContinuation(bytes[i + 2])) {
      i += 3;
      continue;
    }
    std::size_t bad = 1;
    if (c != 0) {
      const std::size_t length = SequenceLength(bytes + i, size - i, &bad);
      if (length != 0) {
        i += length;
        continue;
      }
    }
    // An ill-formed sequence at i: the good run before it goes first, then the damaged
    // stretch, cleaned into place.
    out.append(s.data() + runStart, i - runStart);
    i = CleanDamaged(out, s.data(), size, i);
    runStart = i;
  }
  out.append(s.data() + runStart, size - runStart);
}

std::string CleanUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  AppendCleanUtf8(out, s);
  return out;
}

std::string IntToText(std::int32_t n) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  return std::string(buffer, result.ptr);
}

std::string_view Trim(std::string_view text, std::string_view set) {
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(set);
  return text.substr(first, last - first + 1);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) {
    return std::string(text);
  }
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  std::size_t pos;
  while ((pos = text.find(from, start)) != std::string_view::npos) {
    result.append(text.substr(start, pos - start));
    result.append(to);
    start = pos + from.size();
  }
  result.append(text.substr(start));
  return result;
}

std::string AsciiLowerCase(std::string_view s) {
  std::string result(s);
  for (char& c : result) {
    c = AsciiLower(c);
  }
  return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string FolderOf(std::string_view path) {
  const std::size_t pos = path.rfind(platform::kPathSeparator);
  if (pos == std::string_view::npos) {
    return {};
  }
  return std::string(path.substr(0, pos));
}

std::string ExtensionOf(std::string_view path, bool lower) {
  const std::size_t dot = ExtensionDot(path);
  if (dot == std::string_view::npos) {
    return {};
  }
  std::string_view extension = path.substr(dot);
  return lower ? AsciiLowerCase(extension) : std::string(extension);
}

std::string WithoutExtension(std::string_view path) {
  return std::string(path.substr(0, ExtensionDot(path)));
}

std::string StripTrailing(std::string_view text, char c) {
  if (!text.empty() && text.back() == c) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

std::string FullPathOf(std::string_view base, std::string_view relative) {
  std::string joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base);
  joined.push_back(platform::kPathSeparator);
  joined.append(relative);
  return platform::FullPath(joined);
}

std::string RelativePath(std::string_view fromFolder, std::string_view toPath, char separator) {
  const std::vector<std::string_view> from = PathComponents(fromFolder, separator);
  const std::vector<std::string_view> to = PathComponents(toPath, separator);
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) {
    ++common;
  }
  std::string result;
  if (common == from.size()) {
    result.push_back('.');
    result.push_back(separator);
  } else {
    for (std::size_t i = common; i < from.size(); ++i) {
      result.append("..");
      result.push_back(separator);
    }
  }
  const bool toFolder = !toPath.empty() && toPath.back() == separator;
  for (std::size_t i = common; i < to.size(); ++i) {
    result.append(to[i]);
    if (i + 1 < to.size() || toFolder) {
      result.push_back(separator);
    }
  }
  return result;
}

std::string ToNativeSeparators(std::string_view path) {
  return ReplaceChar(path, '/', platform::kPathSeparator);
}

std::string ToForwardSlashes(std::string_view path) {
  return ReplaceChar(path, platform::kPathSeparator, '/');
}

}  // namespace tarvix
