// The block scans against the byte loops they stand in for: random text of every length up
// to a few hundred bytes, at every alignment, with the bytes each scan stops at drawn
// often, rarely and never.
#include "text/ByteScan.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvix {
namespace {

using Bytes = const unsigned char*;

// A block scan's answer for 16 bytes: its bit sets in the order it gives them (a count
// stands in the first).
struct Answer {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  std::uint32_t third = 0;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
  return out << std::hex << "{" << a.first << ", " << a.second << ", " << a.third << "}"
             << std::dec;
}

// The bytes as each scan's contract names them.
bool IsLetter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsHigh(unsigned char c) {
  return c >= 0x80;
}
bool IsText(unsigned char c) {
  return IsLetter(c) || (c >= '0' && c <= '9') || c == ',' || c == '.' || IsHigh(c);
}
bool IsOneOf(unsigned char c, std::string_view set) {
  return set.find(static_cast<char>(c)) != std::string_view::npos;
}
bool IsUnclean(unsigned char c) {
  return c == 0 || IsHigh(c);
}
constexpr std::string_view kHeadingStops = "*_`[]!<&\\~|";
constexpr std::string_view kIdLeftOut = "\"'()";
constexpr std::string_view kEntities = "\"&'<>\\";

// The byte after `at` within `n` bytes; past the end, a NUL.
unsigned char After(Bytes p, std::size_t at, std::size_t n) {
  return at + 1 < n ? p[at + 1] : 0;
}

// Where the byte loops stop, at `at` of the `n` bytes at `p`.
bool WordStops(Bytes p, std::size_t at, std::size_t n) {
  const unsigned char next = After(p, at, n);
  return !IsText(p[at]) && !(p[at] == ' ' && (IsLetter(next) || IsHigh(next)));
}
bool TextStops(Bytes p, std::size_t at, std::size_t) {
  return !IsText(p[at]);
}
bool HeadingStops(Bytes p, std::size_t at, std::size_t n) {
  const unsigned char c = p[at];
  return c < 0x20 || c >= 0x7F || IsOneOf(c, kHeadingStops) || (c == ' ' && After(p, at, n) == ' ');
}
bool IdStops(Bytes p, std::size_t at, std::size_t) {
  return IsOneOf(p[at], kIdLeftOut) || IsUnclean(p[at]);
}
bool EntityStops(Bytes p, std::size_t at, std::size_t) {
  return IsOneOf(p[at], kEntities) || IsUnclean(p[at]);
}
bool CodeSpanStops(Bytes p, std::size_t at, std::size_t n) {
  const unsigned char c = p[at];
  return IsOneOf(c, "`\n\r\t") || (c == ' ' && After(p, at, n) == ' ');
}
bool LineStartStops(Bytes p, std::size_t at, std::size_t n) {
  return p[at] == '\n' && After(p, at, n) == '#';
}

// The bits of the 16 bytes at `p` for which `is` holds, `p` standing in a block of `n`.
template <class Is>
std::uint32_t BitsOf(Bytes p, std::size_t n, Is is) {
  std::uint32_t bits = 0;
  for (std::size_t k = 0; k < 16; ++k)
    bits |= is(p, k, n) ? 1u << k : 0;
  return bits;
}

// A character as UTF-8 reads it byte by byte: how many bytes the one at `p` wants (ASCII 1,
// a lead 2 to 4, any other byte 0) and how many of the `n` bytes at `p` begin it as a
// well-formed character may begin (NUL begins nothing). After E0, ED, F0 and F4 the second
// byte has a narrower range.
struct Begun {
  std::size_t wanted = 0;
  std::size_t good = 0;
  [[nodiscard]] bool WellFormed() const { return wanted != 0 && good == wanted; }
};

Begun BeginningOf(Bytes p, std::size_t n) {
  const unsigned char c = p[0];
  if (c < 0x80)
    return {1, c != 0 ? 1u : 0u};
  Begun b;
  if (c >= 0xC2 && c <= 0xDF)
    b.wanted = 2;
  if (c >= 0xE0 && c <= 0xEF)
    b.wanted = 3;
  if (c >= 0xF0 && c <= 0xF4)
    b.wanted = 4;
  if (b.wanted == 0)
    return b;
  const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  b.good = 1;
  while (b.good < b.wanted && b.good < n) {
    const unsigned char next = p[b.good];
    const bool fits = b.good == 1 ? next >= low && next <= high : (next & 0xC0) == 0x80;
    if (!fits)
      break;
    ++b.good;
  }
  return b;
}

// The byte loops' reading of the 16 bytes at `p` for each scan.
Answer WordReference(Bytes p) {
  return {BitsOf(p, 17, [](Bytes q, std::size_t k, std::size_t n) { return !WordStops(q, k, n); }),
          BitsOf(p, 17, [](Bytes q, std::size_t k, std::size_t) { return IsHigh(q[k]); })};
}
Answer TextReference(Bytes p) {
  return {BitsOf(p, 16, [](Bytes q, std::size_t k, std::size_t n) { return !TextStops(q, k, n); })};
}
Answer HeadingReference(Bytes p) {
  return {BitsOf(p, 17, HeadingStops)};
}
Answer IdReference(Bytes p) {
  return {
      BitsOf(p, 16, [](Bytes q, std::size_t k, std::size_t) { return IsOneOf(q[k], kIdLeftOut); }),
      BitsOf(p, 16, [](Bytes q, std::size_t k, std::size_t) { return IsUnclean(q[k]); })};
}
Answer EntityReference(Bytes p) {
  return {
      BitsOf(p, 16, [](Bytes q, std::size_t k, std::size_t) { return IsOneOf(q[k], kEntities); }),
      BitsOf(p, 16, [](Bytes q, std::size_t k, std::size_t) { return IsUnclean(q[k]); })};
}
Answer CodeSpanReference(Bytes p) {
  return {BitsOf(p, 17, CodeSpanStops)};
}
Answer LineStartReference(Bytes p) {
  return {BitsOf(p, 17, LineStartStops)};
}
// Well-formed characters of one to three bytes from the first on: 16, or, where the last
// runs past the block with every byte it has there good, the place of its lead. Anything
// else in the block (NUL, damage, a four-byte character): 0.
Answer PrefixReference(Bytes p) {
  std::size_t at = 0;
  while (at < 16) {
    const Begun b = BeginningOf(p + at, 16 - at);
    if (b.WellFormed() && b.wanted < 4) {
      at += b.wanted;
      continue;
    }
    const bool runsPast = (b.wanted == 2 || b.wanted == 3) && b.good == 16 - at;
    return {runsPast ? static_cast<std::uint32_t>(at) : 0u};
  }
  return {16};
}
// As if a sequence started at each of the 16 bytes: the starts of well-formed ones, the
// bytes after each lead that begin its sequence well, and those of well-formed sequences.
Answer ClaimsReference(Bytes p) {
  Answer a;
  for (std::size_t k = 0; k < 16; ++k) {
    const Begun b = BeginningOf(p + k, 4);
    if (b.WellFormed())
      a.first |= 1u << k;
    if (b.wanted < 2)
      continue;
    const std::uint32_t claimed = ((1u << (b.good - 1)) - 1) << (k + 1);
    a.second |= claimed;
    if (b.WellFormed())
      a.third |= claimed;
  }
  return a;
}

// The block scans, as answers.
Answer WordBlock(const char* p) {
  Answer a;
  a.first = WordBytes16(p, &a.second);
  return a;
}
Answer TextBlock(const char* p) {
  return {TextBytes16(p)};
}
Answer HeadingBlock(const char* p) {
  return {HeadingStops16(p)};
}
Answer IdBlock(const char* p) {
  Answer a;
  a.first = IdLeftOut16(p, &a.second);
  return a;
}
Answer EntityBlock(const char* p) {
  Answer a;
  a.first = EntityBytes16(p, &a.second);
  return a;
}
Answer CodeSpanBlock(const char* p) {
  return {CodeSpanStops16(p)};
}
Answer LineStartBlock(const char* p) {
  return {LineStarts16(p, '#')};
}
Answer PrefixBlock(const char* p) {
  return {static_cast<std::uint32_t>(WellFormedUtf8Prefix16(p))};
}
Answer ClaimsBlock(const char* p) {
  const Utf8Claims16 claims = Utf8Claims16Of(p);
  return {claims.wellFormed, claims.claimed, claims.wellFormedClaimed};
}

// How a scan is used over a buffer: to find the bytes its bits say the byte loop must look
// at (every other block is stepped over whole), to find where well-formed UTF-8 stops, or
// only block by block (the claims, which the UTF-8 cleaner carries from block to block).
enum class Use { Stops, Utf8, Blocks };

struct Scanner {
  std::string_view name;
  std::size_t reads;  // the bytes a block scan reads from its place
  Answer (*block)(const char*);
  Answer (*reference)(Bytes);
  // What the block scan answers without vector instructions; the claims are then made by
  // a byte loop of their own and answer exactly.
  Answer fallback;
  bool exactWithout;
  Use use;
  // The bits of the bytes the byte loop decides, and how it decides one.
  std::uint32_t (*looked)(const Answer&);
  bool (*stops)(Bytes, std::size_t, std::size_t);
  // The text it meets, in pieces: those that go on with its run for certain, and those it
  // stops at (a piece that starts where it stops).
  std::vector<std::string> goesOn;
  std::vector<std::string> stopsAt;
};

// A scan whose bits say which bytes the byte loop looks at: its pieces are every single
// byte, split by whether `stops` holds before some byte, and those given.
Scanner StopScan(std::string_view name, std::size_t reads, Answer (*block)(const char*),
                 Answer (*reference)(Bytes), Answer fallback,
                 std::uint32_t (*looked)(const Answer&),
                 bool (*stops)(Bytes, std::size_t, std::size_t),
                 std::vector<std::string> goesOn = {}, std::vector<std::string> stopsAt = {}) {
  Scanner s{name,       reads,  block, reference,         fallback,          false,
            Use::Stops, looked, stops, std::move(goesOn), std::move(stopsAt)};
  for (int c = 0; c < 256; ++c) {
    bool stopsSomewhere = false;
    for (int next = 0; next < 256; ++next) {
      const unsigned char two[2] = {static_cast<unsigned char>(c),
                                    static_cast<unsigned char>(next)};
      stopsSomewhere = stopsSomewhere || stops(two, 0, 2);
    }
    (stopsSomewhere ? s.stopsAt : s.goesOn).push_back(std::string(1, static_cast<char>(c)));
  }
  return s;
}

// UTF-8: well-formed characters at the edges of each length and of the narrower ranges,
// and damage of every kind the cleaner tells apart.
// clang-format off
const std::vector<std::string> kUtf8Good = {
    "a", "Z", "\x01", "\x7F", "\xC2\x80", "\xC2\xBF", "\xDF\x80", "\xDF\xBF", "\xC3\xA9", "\xD0\x96",
    "\xE0\xA0\x80", "\xE0\xBF\xBF", "\xE1\x80\x80", "\xEC\xBF\xBF", "\xED\x80\x80", "\xED\x9F\xBF",
    "\xEE\x80\x80", "\xEF\xBF\xBF", "\xE3\x81\x82", "\xE4\xB8\xAD", "\xEA\xB0\x80"};
const std::vector<std::string> kUtf8FourBytes = {
    "\xF0\x90\x80\x80", "\xF1\x80\x80\x80", "\xF3\xBF\xBF\xBF", "\xF4\x8F\xBF\xBF", "\xF0\x9F\x98\x80"};
const std::vector<std::string> kUtf8Damage = {
    std::string(1, '\0'), "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xC2", "\xDF", "\xE0\x80\x80",
    "\xE0\x9F\xBF", "\xE0\xA0", "\xED\xA0\x80", "\xED\xBF\xBF", "\xE1\x80", "\xEF",
    "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF1\x80\x80", "\xF4",
    "\xF5\x80\x80\x80", "\xF8", "\xFE", "\xFF"};
// clang-format on

std::vector<std::string> Joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Scanner> Scanners() {
  const auto notAll = [](const Answer& a) { return ~a.first & 0xFFFF; };
  const auto first = [](const Answer& a) { return a.first; };
  const auto either = [](const Answer& a) { return a.first | a.second; };
  return {
      // A space goes on with a word before a letter or a byte from 0x80 up.
      StopScan("WordBytes16", 17, WordBlock, WordReference, {}, notAll, WordStops,
               {" a", " Q", " \xC3", " \xFF"}),
      StopScan("TextBytes16", 16, TextBlock, TextReference, {}, notAll, TextStops),
      // In a heading a space goes on before anything but another space.
      StopScan("HeadingStops16", 17, HeadingBlock, HeadingReference, {0xFFFF}, first, HeadingStops,
               {" a"}, {"  "}),
      StopScan("IdLeftOut16", 16, IdBlock, IdReference, {0xFFFF, 0xFFFF}, either, IdStops),
      StopScan("EntityBytes16", 16, EntityBlock, EntityReference, {}, either, EntityStops),
      // In a code span a space goes on before anything but another space.
      StopScan("CodeSpanStops16", 17, CodeSpanBlock, CodeSpanReference, {0xFFFF}, first,
               CodeSpanStops, {" a"}, {"  "}),
      StopScan("LineStarts16", 17, LineStartBlock, LineStartReference, {}, first, LineStartStops,
               {}, {"\n#"}),
      {"WellFormedUtf8Prefix16",
       16,
       PrefixBlock,
       PrefixReference,
       {},
       false,
       Use::Utf8,
       nullptr,
       nullptr,
       kUtf8Good,
       Joined(kUtf8Damage, kUtf8FourBytes)},
      {"Utf8Claims16Of",
       19,
       ClaimsBlock,
       ClaimsReference,
       {},
       true,
       Use::Blocks,
       nullptr,
       nullptr,
       Joined(kUtf8Good, kUtf8FourBytes),
       kUtf8Damage},
  };
}

// How often the text holds what a scan stops at, a piece in so many.
enum class Rate { Often = 4, Rarely = 100, Never = 0 };

// `n` bytes of pieces, the stopping ones at `rate`; a piece that does not fit is made up
// with letters, which every scan goes on with.
std::string TextOf(const Scanner& s, Rate rate, std::size_t n, std::mt19937& random) {
  std::string text;
  while (text.size() < n) {
    const auto one = static_cast<std::uint32_t>(rate);
    const bool stop = one != 0 && random() % one == 0;
    const std::vector<std::string>& pieces = stop ? s.stopsAt : s.goesOn;
    const std::string& piece = pieces[random() % pieces.size()];
    text += text.size() + piece.size() <= n ? piece : std::string(n - text.size(), 'a');
  }
  return text;
}

// Where the scan finds what it looks for in the `n` bytes at `p` (for the UTF-8 scans, the
// bytes that start no well-formed character): with the block scan and the byte loop
// together as the converter runs them, or with the byte loop alone.
std::vector<std::size_t> Found(const Scanner& s, Bytes p, std::size_t n, bool blocks) {
  std::vector<std::size_t> found;
  std::size_t at = 0;
  const auto blockAt = [&](std::size_t place) {
    return s.block(reinterpret_cast<const char*>(p + place));
  };
  while (at < n) {
    if (s.use != Use::Stops) {
      if (blocks && s.use == Use::Utf8 && kBlockScan && n - at >= 16) {
        const std::uint32_t taken = blockAt(at).first;
        if (taken != 0) {
          at += taken;
          continue;
        }
      }
      const Begun b = BeginningOf(p + at, n - at);
      if (!b.WellFormed())
        found.push_back(at);
      at += b.WellFormed() ? b.wanted : 1;
      continue;
    }
    if (blocks && kBlockScan && at + s.reads <= n) {
      const std::uint32_t looked = s.looked(blockAt(at));
      if (looked == 0) {
        at += 16;
        continue;
      }
      at += static_cast<std::size_t>(std::countr_zero(looked));
    }
    if (s.stops(p, at, n))
      found.push_back(at);
    ++at;
  }
  return found;
}

std::string Hex(Bytes p, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kDigits[p[i] >> 4];
    s += kDigits[p[i] & 15];
    s += ' ';
  }
  return s;
}

constexpr std::size_t kLongest = 320;
constexpr std::size_t kAlignments = 32;

// The first place where the block scan and the byte loop disagree, described; empty when
// they agree everywhere. Every length up to kLongest, each at every alignment.
std::string FirstDisagreement(const Scanner& s, Rate rate, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<unsigned char> storage(kLongest + kAlignments + 128);
  std::size_t stops = 0;
  std::size_t bytesMade = 0;
  for (std::size_t n = 0; n <= kLongest; ++n) {
    const std::string text = TextOf(s, rate, n, random);
    const auto* bytes = reinterpret_cast<Bytes>(text.data());
    std::vector<Answer> expected;
    for (std::size_t at = 0; at + s.reads <= n; ++at)
      expected.push_back(kBlockScan || s.exactWithout ? s.reference(bytes + at) : s.fallback);
    const std::vector<std::size_t> found = Found(s, bytes, n, false);
    stops += found.size();
    bytesMade += n;
    for (std::size_t offset = 0; offset < kAlignments; ++offset) {
      // Around the text, NULs.
      std::memset(storage.data(), 0, storage.size());
      auto* const aligned = reinterpret_cast<unsigned char*>(
          (reinterpret_cast<std::uintptr_t>(storage.data()) + 63) & ~std::uintptr_t{63});
      unsigned char* const window = aligned + offset;
      std::memcpy(window, text.data(), n);
      const std::string where = std::string(s.name) + ", " + std::to_string(n) + " bytes at " +
                                std::to_string(offset) + ": ";
      for (std::size_t at = 0; at < expected.size(); ++at) {
        const Answer answer = s.block(reinterpret_cast<const char*>(window + at));
        if (!(answer == expected[at])) {
          std::ostringstream said;
          said << where << "block at " << at << " [" << Hex(window + at, s.reads) << "] gives "
               << answer << ", the byte loop " << expected[at];
          return said.str();
        }
      }
      if (s.use != Use::Blocks && Found(s, window, n, true) != found)
        return where + "scanning [" + Hex(window, n) + "] finds other places";
    }
  }
  // The text is what it was drawn to be: without a stop, or with one every few bytes.
  if ((rate == Rate::Never) != (stops == 0))
    return std::string(s.name) + ": " + std::to_string(stops) + " stops drawn";
  if (rate == Rate::Often && stops < bytesMade / 32)
    return std::string(s.name) + ": only " + std::to_string(stops) + " stops drawn often";
  return {};
}

void ExpectAgreement(std::string_view name) {
  for (const Scanner& s : Scanners()) {
    if (s.name != name)
      continue;
    for (const Rate rate : {Rate::Often, Rate::Rarely, Rate::Never}) {
      EXPECT_EQ(FirstDisagreement(s, rate, 20240 + static_cast<std::uint32_t>(rate)), "")
          << "one piece in " << static_cast<int>(rate) << " stops the scan";
    }
    return;
  }
  ADD_FAILURE() << "no scan " << name;
}

TEST(ByteScan, WordBytesAgreeWithTheByteLoop) {
  ExpectAgreement("WordBytes16");
}

TEST(ByteScan, TextBytesAgreeWithTheByteLoop) {
  ExpectAgreement("TextBytes16");
}

TEST(ByteScan, HeadingStopsAgreeWithTheByteLoop) {
  ExpectAgreement("HeadingStops16");
}

TEST(ByteScan, IdLeftOutAgreesWithTheByteLoop) {
  ExpectAgreement("IdLeftOut16");
}

TEST(ByteScan, EntityBytesAgreeWithTheByteLoop) {
  ExpectAgreement("EntityBytes16");
}

TEST(ByteScan, CodeSpanStopsAgreeWithTheByteLoop) {
  ExpectAgreement("CodeSpanStops16");
}

TEST(ByteScan, LineStartsAgreeWithTheByteLoop) {
  ExpectAgreement("LineStarts16");
}

TEST(ByteScan, WellFormedUtf8PrefixAgreesWithTheByteLoop) {
  ExpectAgreement("WellFormedUtf8Prefix16");
}

TEST(ByteScan, Utf8ClaimsAgreeWithTheByteLoop) {
  ExpectAgreement("Utf8Claims16Of");
}

}  // namespace
}  // namespace tarvix
