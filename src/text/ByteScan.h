// Sixteen bytes at a time for the scans that see every byte of ordinary text (the words of
// a plain run, the bytes that escaping leaves alone) and for those over heading lines and
// line starts. Each answers for a block of 16 bytes with a bit a byte; where vector
// instructions are missing, no block is taken and the byte loops do all the work.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TARVIX_BYTE_SCAN 1
#endif

namespace tarvix {

// Whether the block scans are there at all.
inline constexpr bool kBlockScan =
#if defined(TARVIX_BYTE_SCAN)
    true;
#else
    false;
#endif

#if defined(TARVIX_BYTE_SCAN)
namespace detail {
inline __m128i InRange(__m128i v, char low, char high) {
  // Signed compares: bytes from 0x80 up are negative and never in an ASCII range.
  return _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(low - 1))),
                       _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(high + 1))));
}
inline __m128i Letters(__m128i v) {
  return InRange(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
}
}  // namespace detail
#endif

// Of the 16 bytes at `p` (17 must be readable: the one after the block decides for its
// last byte), the bits of those that go on with a run of words for certain: letters,
// digits, commas, full stops, bytes from 0x80 up, and a space before a letter or such a
// byte. Any other byte is left to the byte loop, which decides it exactly. `*wide` gets
// the bits of the bytes from 0x80 up, which escaping hands to the UTF-8 cleaner.
inline std::uint32_t WordBytes16(const char* p, std::uint32_t* wide) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i high = _mm_cmplt_epi8(v, _mm_setzero_si128());
  const __m128i nextWord =
      _mm_or_si128(detail::Letters(next), _mm_cmplt_epi8(next, _mm_setzero_si128()));
  __m128i ok = _mm_or_si128(detail::Letters(v), detail::InRange(v, '0', '9'));
  ok = _mm_or_si128(ok, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
  ok = _mm_or_si128(ok, high);
  ok = _mm_or_si128(ok, _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), nextWord));
  *wide = static_cast<std::uint32_t>(_mm_movemask_epi8(high));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(ok));
#else
  (void)p;
  *wide = 0;
  return 0;
#endif
}

// Of the 16 bytes at `p`, the bits of those that go on with a run of ordinary bytes for
// certain: letters, digits, commas, full stops and bytes from 0x80 up.
inline std::uint32_t TextBytes16(const char* p) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i ok = _mm_or_si128(detail::Letters(v), detail::InRange(v, '0', '9'));
  ok = _mm_or_si128(ok, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(',')),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
  ok = _mm_or_si128(ok, _mm_cmplt_epi8(v, _mm_setzero_si128()));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(ok));
#else
  (void)p;
  return 0;
#endif
}

// How many of the 16 bytes at `p`, from the first, are well-formed UTF-8 that ends where a
// character ends, with no NUL: ASCII, two-byte and three-byte letters (Japanese, Chinese
// and Korean text is mostly the latter). A letter that runs past the block ends the count
// at its lead byte. 0 when the block starts with anything else or holds anything else
// (damage, four-byte letters): the byte loop then decides exactly.
inline std::size_t WellFormedUtf8Prefix16(const char* p) {
#if defined(TARVIX_BYTE_SCAN)
  const auto bits = [](__m128i m) { return static_cast<std::uint32_t>(_mm_movemask_epi8(m)); };
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if (bits(_mm_cmpeq_epi8(v, _mm_setzero_si128())) != 0)
    return 0;
  const std::uint32_t high = bits(v);
  if (high == 0)
    return 16;
  // Signed compares: 0x80 to 0xBF are the lowest bytes of all.
  const std::uint32_t continuation = bits(_mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xC0))));
  const std::uint32_t lead2 =
      bits(detail::InRange(v, static_cast<char>(0xC2), static_cast<char>(0xDF)));
  const std::uint32_t lead3 =
      bits(detail::InRange(v, static_cast<char>(0xE0), static_cast<char>(0xEF)));
  if ((continuation | lead2 | lead3) != high)
    return 0;
  // After E0 the second byte is at least A0 (no overlong forms), after ED at most 9F (no
  // surrogates); a lead at the block's end is looked at again in the next block.
  const __m128i before = _mm_slli_si128(v, 1);
  const __m128i overlong = _mm_and_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8(static_cast<char>(0xE0))),
                                         _mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(0xA0))));
  const __m128i surrogate = _mm_and_si128(_mm_cmpeq_epi8(before, _mm_set1_epi8(static_cast<char>(0xED))),
                                          _mm_cmpgt_epi8(v, _mm_set1_epi8(static_cast<char>(0x9F))));
  if (bits(_mm_or_si128(overlong, surrogate)) != 0)
    return 0;
  // Each lead wants continuation bytes right after it and nowhere else: a lead where one
  // is wanted, or one where none is, fails the comparison.
  const std::uint32_t wanted = (lead2 << 1) | (lead3 << 1) | (lead3 << 2);
  if ((wanted & 0xFFFF) != continuation)
    return 0;
  if (wanted <= 0xFFFF)
    return 16;
  // The last lead's letter goes on in the next block.
  return static_cast<std::size_t>(31 - std::countl_zero(lead2 | lead3));
#else
  (void)p;
  return 0;
#endif
}

// What the UTF-8 cleaner needs of a block of damaged text, a bit a byte, each sequence taken
// where it starts: a lead byte (C2 to F4) claims the continuation bytes after it that could
// still complete it, and a byte no earlier lead claims starts a sequence of its own.
struct Utf8Claims16 {
  std::uint32_t wellFormed = 0;  // starts of well-formed sequences (ASCII but NUL included)
  // Bits 1 to 19: the bytes after the block's starts that their sequences claim, all of
  // them and those of well-formed ones; bits 16 up fall in the next block.
  std::uint32_t claimed = 0;
  std::uint32_t wellFormedClaimed = 0;
};

// The claims of the 16 bytes at `p`, as if a sequence started at each (19 must be readable:
// the sequences that start in the block end up to three bytes after it). The byte loop
// below gives the same where vector instructions are missing.
inline Utf8Claims16 Utf8Claims16Of(const char* p) {
  std::uint32_t lead2 = 0, lead3 = 0, lead4 = 0, ascii = 0, second = 0, third = 0, fourth = 0;
#if defined(TARVIX_BYTE_SCAN)
  const auto bits = [](__m128i m) { return static_cast<std::uint32_t>(_mm_movemask_epi8(m)); };
  const auto load = [p](int at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
  };
  const auto in = [](__m128i v, int low, int high) {
    return detail::InRange(v, static_cast<char>(low), static_cast<char>(high));
  };
  const __m128i v0 = load(0), v1 = load(1), v2 = load(2), v3 = load(3);
  // Signed compares: 0x80 to 0xBF are the lowest bytes of all.
  const __m128i below = _mm_set1_epi8(static_cast<char>(0xC0));
  const std::uint32_t cont1 = bits(_mm_cmplt_epi8(v1, below));
  const std::uint32_t cont2 = bits(_mm_cmplt_epi8(v2, below));
  const std::uint32_t cont3 = bits(_mm_cmplt_epi8(v3, below));
  lead2 = bits(in(v0, 0xC2, 0xDF));
  lead3 = bits(in(v0, 0xE0, 0xEF));
  lead4 = bits(in(v0, 0xF0, 0xF4));
  ascii = bits(_mm_cmpgt_epi8(v0, _mm_setzero_si128()));
  const auto is = [&v0, &bits](int lead) {
    return bits(_mm_cmpeq_epi8(v0, _mm_set1_epi8(static_cast<char>(lead))));
  };
  const std::uint32_t e0 = is(0xE0), ed = is(0xED), f0 = is(0xF0), f4 = is(0xF4);
  // After E0, ED, F0 and F4 the second byte has a narrower range: no overlong forms, no
  // surrogates, nothing past U+10FFFF. A range from 0x80 is all below its end.
  const auto under = [&v1, &bits](int end) {
    return bits(_mm_cmplt_epi8(v1, _mm_set1_epi8(static_cast<char>(end))));
  };
  second = ((lead2 | lead3 | lead4) & ~(e0 | ed | f0 | f4) & cont1) |
           (e0 & bits(in(v1, 0xA0, 0xBF))) | (ed & under(0xA0)) | (f0 & bits(in(v1, 0x90, 0xBF))) |
           (f4 & under(0x90));
  third = second & (lead3 | lead4) & cont2;
  fourth = third & lead4 & cont3;
#else
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  const auto cont = [](unsigned char c) { return (c & 0xC0) == 0x80; };
  for (int k = 0; k < 16; ++k) {
    const unsigned char c = b[k];
    const std::uint32_t bit = 1u << k;
    unsigned char low = 0x80, high = 0xBF;
    if (c == 0xE0)
      low = 0xA0;
    if (c == 0xED)
      high = 0x9F;
    if (c == 0xF0)
      low = 0x90;
    if (c == 0xF4)
      high = 0x8F;
    const bool isLead = c >= 0xC2 && c <= 0xF4;
    if (c != 0 && c < 0x80)
      ascii |= bit;
    if (c >= 0xC2 && c <= 0xDF)
      lead2 |= bit;
    if (c >= 0xE0 && c <= 0xEF)
      lead3 |= bit;
    if (c >= 0xF0 && c <= 0xF4)
      lead4 |= bit;
    if (isLead && b[k + 1] >= low && b[k + 1] <= high) {
      second |= bit;
      if (c >= 0xE0 && cont(b[k + 2])) {
        third |= bit;
        if (c >= 0xF0 && cont(b[k + 3]))
          fourth |= bit;
      }
    }
  }
#endif
  const std::uint32_t done2 = lead2 & second, done3 = lead3 & third, done4 = lead4 & fourth;
  Utf8Claims16 claims;
  claims.wellFormed = ascii | done2 | done3 | done4;
  claims.claimed = second << 1 | third << 2 | fourth << 3;
  claims.wellFormedClaimed = (done2 | done3 | done4) << 1 | (done3 | done4) << 2 | done4 << 3;
  return claims;
}

// Of the 16 bytes at `p` (17 must be readable), the bits of those that a heading line
// cannot hold for its tokens to write their own bytes: a byte below a space or from 0x7F
// up, one of "*_`[]!<&~|", a backslash, and a space that another follows.
inline std::uint32_t HeadingStops16(const char* p) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i space = _mm_set1_epi8(' ');
  // Signed compares: bytes from 0x80 up are negative, below the space.
  __m128i stop = _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
  stop = _mm_or_si128(stop, _mm_and_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(next, space)));
  for (const char c : {'*', '_', '`', '[', ']', '!', '<', '&', '\\', '~', '|'})
    stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(stop));
#else
  (void)p;
  return 0xFFFF;
#endif
}

// Of the 16 bytes at `p` (17 must be readable), the bits of those that a code span read
// in one piece must look at: a backtick, a line end, a tab, and a space that another
// follows.
inline std::uint32_t CodeSpanStops16(const char* p) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i space = _mm_set1_epi8(' ');
  __m128i stop = _mm_and_si128(_mm_cmpeq_epi8(v, space), _mm_cmpeq_epi8(next, space));
  for (const char c : {'`', '\n', '\r', '\t'})
    stop = _mm_or_si128(stop, _mm_cmpeq_epi8(v, _mm_set1_epi8(c)));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(stop));
#else
  (void)p;
  return 0xFFFF;
#endif
}

// Of the 16 bytes at `p`, the bits of those a heading id leaves out (double quotes,
// apostrophes and parentheses), and in `*unclean` those that cleaning to UTF-8 may change
// (NUL and the bytes from 0x80 up).
inline std::uint32_t IdLeftOut16(const char* p, std::uint32_t* unclean) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i out = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                             _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
  out = _mm_or_si128(out, _mm_cmpeq_epi8(v, _mm_set1_epi8('(')));
  out = _mm_or_si128(out, _mm_cmpeq_epi8(v, _mm_set1_epi8(')')));
  const __m128i c =
      _mm_or_si128(_mm_cmplt_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
  *unclean = static_cast<std::uint32_t>(_mm_movemask_epi8(c));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(out));
#else
  (void)p;
  *unclean = 0xFFFF;
  return 0xFFFF;
#endif
}

// Of the 16 bytes at `p`, the bits of those that escaping turns into an entity (`"`, `&`,
// `'`, `<`, `>`, backslash); `*clean` gets those it hands to the UTF-8 cleaner (NUL and the
// bytes from 0x80 up).
inline std::uint32_t EntityBytes16(const char* p, std::uint32_t* clean) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  __m128i e =
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('&')));
  e = _mm_or_si128(e, _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
  e = _mm_or_si128(e, _mm_cmpeq_epi8(v, _mm_set1_epi8('<')));
  e = _mm_or_si128(e, _mm_cmpeq_epi8(v, _mm_set1_epi8('>')));
  e = _mm_or_si128(e, _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
  const __m128i c =
      _mm_or_si128(_mm_cmplt_epi8(v, _mm_setzero_si128()), _mm_cmpeq_epi8(v, _mm_setzero_si128()));
  *clean = static_cast<std::uint32_t>(_mm_movemask_epi8(c));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(e));
#else
  (void)p;
  *clean = 0;
  return 0;
#endif
}

// Of the 16 bytes at `p` (17 must be readable), the bits of the line ends ('\n') that the
// byte `first` follows: where a line starting with it begins.
inline std::uint32_t LineStarts16(const char* p, char first) {
#if defined(TARVIX_BYTE_SCAN)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  const __m128i starts = _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                       _mm_cmpeq_epi8(next, _mm_set1_epi8(first)));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(starts));
#else
  (void)p;
  (void)first;
  return 0;
#endif
}

}  // namespace tarvix
