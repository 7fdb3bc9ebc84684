// Plain runs: taking tokens straight from the bytes must end where token-by-token scanning
// puts a token boundary, and the scan from there must go on with the same tokens.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "lex/Lex_CL.h"

namespace tarvix {
namespace {

// The offset of the lexer's current character: where the next token starts.
std::size_t NextStart(const Lex_CL& lex) {
  return lex.PeekChar() < 0 ? lex.Bytes().size() : lex.Mark().pos - 1;
}

// Where each token starts, and the kinds, read one token at a time.
struct Scanned {
  std::vector<std::size_t> starts;
  std::vector<std::uint32_t> codes;
};

Scanned ScanAll(const std::string& doc, std::int32_t escapes, bool noBullet) {
  Lex_CL lex;
  lex.escapes = escapes;
  lex.noBullet = noBullet;
  lex.OpenBytes(doc);
  Scanned s;
  for (;;) {
    const std::size_t start = NextStart(lex);
    const Token t = lex.Scan(false);
    if (t.Is(kind::Eof))
      break;
    s.starts.push_back(start);
    s.codes.push_back(t.code);
  }
  return s;
}

// From every token boundary: the plain run ends on a boundary, the next token scanned is
// the one scanning one at a time finds there, and the run's bytes are the tokens' texts.
void ExpectRunsKeepBoundaries(const std::string& doc, const PlainBytes& plain,
                              std::int32_t escapes = 1, bool noBullet = false) {
  const Scanned all = ScanAll(doc, escapes, noBullet);
  for (std::size_t k = 0; k < all.starts.size(); ++k) {
    Lex_CL lex;
    lex.escapes = escapes;
    lex.noBullet = noBullet;
    lex.OpenBytes(doc);
    for (std::size_t j = 0; j < k; ++j)
      (void)lex.Scan(false);
    const PlainRun run = lex.TakePlain(plain);
    ASSERT_EQ(run.begin, all.starts[k]) << doc;
    const std::size_t nextStart = NextStart(lex);
    const Token next = lex.Scan(false);
    std::size_t m = k;
    while (m < all.starts.size() && all.starts[m] < run.end)
      ++m;
    if (next.Is(kind::Eof)) {
      EXPECT_EQ(run.end, doc.size()) << doc << " from token " << k;
      continue;
    }
    ASSERT_LT(m, all.starts.size()) << doc << " from token " << k;
    EXPECT_EQ(all.starts[m], run.end) << doc << " from token " << k;
    EXPECT_EQ(all.codes[m], next.code) << doc << " from token " << k;
    EXPECT_EQ(nextStart, run.end) << doc;
    // Every token taken is one the table admits: text, a blank, or a kind it marks.
    for (std::size_t j = k; j < m; ++j) {
      const auto first = static_cast<unsigned char>(doc[all.starts[j]]);
      EXPECT_TRUE(all.codes[j] == kind::Text || all.codes[j] == kind::Sp || plain.take[first])
          << doc << " token " << j;
    }
    // Nothing that depends on the line is taken.
    const std::string_view taken(doc.data() + run.begin, run.end - run.begin);
    EXPECT_EQ(taken.find_first_of("\r\n"), std::string_view::npos) << doc;
  }
}

constexpr PlainBytes kAll = MakePlainBytes("().<>/|:-=!~&+#0123456789*_\\\"'[]`", false, true);
constexpr PlainBytes kWords = MakePlainBytes("", false);
constexpr PlainBytes kGlued = MakePlainBytes("().\"'>/:-=!~&+#0123456789_", true);

const char* const kDocs[] = {
    "a b  c\td",
    "word  \nnext",
    "x - y -- z --: w",
    "1. item 12.5 3.x",
    "a* b *c **d*** e",
    "+ a +b + c",
    "#x ## y ####### z",
    "&copy; &x &; &&",
    "a\\*b \\\\ \\é c",
    "![i] [^n] [a]: b]",
    "``a` ```b",
    "é\xC3 \xA9 \x80x",
    "snake_case __b_ _c",
    "a ~~b~ c ~",
    "x:y :-: :- a=b ==",
    "tab\t\tx  y   \r\nz",
    "trailing ",
    "!",
    "a \"q\" 'r' <t> |p|",
    // Kinds that swallow the blank after them: a run must not end inside one.
    "x +  a +\t\tb",
    "x -  c -\t\td",
    "x 1.  e 2.\tf",
    "x *  g *\th",
};

TEST(PlainRun, EndsOnTokenBoundaries) {
  for (const char* doc : kDocs) {
    ExpectRunsKeepBoundaries(doc, kAll);
    ExpectRunsKeepBoundaries(doc, kWords);
    ExpectRunsKeepBoundaries(doc, kGlued);
    // Code reads backslashes as text, and emphasis scans "* " as a star.
    ExpectRunsKeepBoundaries(doc, kAll, 0, true);
  }
}

// Long lines go through the sixteen-byte block scans, which must stop exactly where the
// byte loop would: at every kind of byte, at every place in a block, and at the end of
// the input (where a block would read past it).
TEST(PlainRun, LongRunsKeepBoundaries) {
  std::vector<std::string> docs;
  docs.push_back(std::string(40, 'a') + " " + std::string(33, 'b') + "," + std::string(20, 'c'));
  docs.push_back("The quick brown fox, jumps over the lazy dog. Twice, 123 times" +
                 std::string(17, 'z'));
  docs.push_back(
      "\xC3\xA9t\xC3\xA9 d\xE2\x80\x99hiver \xE6\x97\xA5\xE6\x9C\xAC words and more words here");
  // Every byte, once in each of the sixteen places of a block, between letters and spaces.
  for (int b = 0; b < 256; ++b) {
    for (std::size_t at = 0; at < 18; at += 3) {
      std::string doc =
          std::string(at, 'w') + static_cast<char>(b) + " ab cd" + std::string(20, 'e');
      docs.push_back(doc);
    }
  }
  // A pseudo-random mix, so that spaces meet every neighbour.
  const std::string alphabet = "abcXYZ09 ,.  &<\xC3\xA9\x80-_*`#1.\t";
  std::uint32_t seed = 7;
  for (int d = 0; d < 40; ++d) {
    std::string doc;
    for (int i = 0; i < 70; ++i) {
      seed = seed * 1103515245u + 12345u;
      doc.push_back(alphabet[(seed >> 16) % alphabet.size()]);
    }
    docs.push_back(doc);
  }
  for (const std::string& doc : docs) {
    ExpectRunsKeepBoundaries(doc, kAll);
    ExpectRunsKeepBoundaries(doc, kWords);
    ExpectRunsKeepBoundaries(doc, kGlued);
  }
}

// A run says whether escaping changes any of its bytes: a run held to be clean is copied
// as it is, so one multi-byte character or entity byte deep in a long run must be seen.
TEST(PlainRun, LongRunsReportEscapedBytes) {
  // From the second byte on: a run cannot start with "&x", the start of an entity.
  for (std::size_t at = 1; at < 40; ++at) {
    for (const char* odd : {"\xC3\xA9", "&"}) {
      std::string doc = std::string(40, 'x');
      doc.insert(at, odd);
      doc += " tail words";
      Lex_CL lex;
      lex.OpenBytes(doc);
      const PlainRun run = lex.TakePlain(kWords);
      EXPECT_EQ(run.end, doc.size()) << at;
      EXPECT_TRUE(run.escaped) << at << " " << odd;
    }
    std::string clean = std::string(at, 'y') + " z" + std::string(40, 'q');
    Lex_CL lex;
    lex.OpenBytes(clean);
    EXPECT_FALSE(lex.TakePlain(kWords).escaped) << at;
  }
}

TEST(PlainRun, TakesWhatTheTableAdmits) {
  Lex_CL lex;
  lex.OpenBytes("ab cd. ef  gh");
  PlainRun run = lex.TakePlain(kWords);
  // Words (a full stop inside one belongs to it) and single spaces, up to two blanks.
  EXPECT_EQ(run.end, 9u);
  EXPECT_TRUE(run.endsInText);
  EXPECT_FALSE(run.escaped);
  lex.OpenBytes("ab .cd ef  gh");
  run = lex.TakePlain(kWords);
  // A full stop that starts a token is a kind of its own.
  EXPECT_EQ(run.end, 3u);
  lex.OpenBytes("ab cd. ef  gh");
  run = lex.TakePlain(kAll);
  // Blank runs are taken where they make no hard break.
  EXPECT_EQ(run.end, 13u);
  // A word glued to an underscore only after text.
  lex.OpenBytes("a_b _c");
  run = lex.TakePlain(kGlued);
  EXPECT_EQ(run.end, 4u);
  // Escaping would change a quote or an ampersand inside a word.
  lex.OpenBytes("a&b");
  run = lex.TakePlain(kWords);
  EXPECT_EQ(run.end, 3u);
  EXPECT_TRUE(run.escaped);
  // A blank before a line end is no plain run.
  lex.OpenBytes("  \nx");
  run = lex.TakePlain(kAll);
  EXPECT_EQ(run.end, 0u);
}

// The quick refusal before a plain run must never refuse a run TakePlain would take: each
// byte as the current character, before each kind of byte, with each table.
TEST(PlainRun, QuickRefusalTakesNothing) {
  const PlainBytes* tables[] = {&kWords, &kAll, &kGlued};
  const std::string after[] = {"", "a", " ", "  x", "*", "_", "-", "\n", "\x80"};
  for (const PlainBytes* plain : tables) {
    for (int c = 0; c < 256; ++c) {
      for (const std::string& rest : after) {
        const std::string doc = std::string(1, static_cast<char>(c)) + rest;
        Lex_CL lex;
        lex.OpenBytes(doc);
        if (!lex.NoPlainAt(*plain))
          continue;
        const PlainRun run = lex.TakePlain(*plain);
        EXPECT_EQ(run.end, run.begin) << "byte " << c << " before \"" << rest << "\"";
      }
    }
  }
  // It does refuse the delimiters a table leaves out, and the end of the input.
  Lex_CL lex;
  lex.OpenBytes("*a");
  EXPECT_TRUE(lex.NoPlainAt(kWords));
  lex.OpenBytes("");
  EXPECT_TRUE(lex.NoPlainAt(kWords));
  lex.OpenBytes("a*");
  EXPECT_FALSE(lex.NoPlainAt(kWords));
}

// The plain run read one byte at a time, with no block scans and no shortcuts: a word is
// its ordinary bytes and the single spaces before the start of another word; any other
// token is taken by the rules of its kind. The lexer's run must agree with it exactly.
bool EscapedByte(int c) {
  return c >= 0x80 || c == 0 ||
         std::string_view("\"&'<>\\").find(static_cast<char>(c)) != std::string_view::npos;
}

PlainRun ReferenceRun(std::string_view d, std::size_t start, const PlainBytes& plain,
                      std::int32_t escapes) {
  PlainRun run;
  run.begin = start;
  const std::size_t n = d.size();
  std::size_t p = start;
  bool text = false;
  const auto at = [&](std::size_t q) -> int {
    return q < n ? static_cast<unsigned char>(d[q]) : -1;
  };
  const auto blank = [](int c) { return c == ' ' || c == '\t'; };
  const auto digit = [](int c) { return c >= '0' && c <= '9'; };
  const auto alnum = [&](int c) {
    return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  };
  while (p < n) {
    const int c = at(p);
    if (kStartsText[c]) {
      run.escaped |= EscapedByte(c);
      ++p;
      for (; p < n; ++p) {
        const int b = at(p);
        const bool goesOn =
            !kStopsText[b] || (b == ' ' && at(p + 1) >= 0 && kStartsText[at(p + 1)]);
        if (!goesOn)
          break;
        run.escaped |= EscapedByte(b);
      }
      text = true;
      continue;
    }
    const int next = at(p + 1);
    if (blank(c)) {
      std::size_t q = p + 1;
      if (plain.blankRuns) {
        while (blank(at(q)))
          ++q;
      } else if (c != ' ' || blank(next)) {
        break;
      }
      const int after = at(q);
      if (after < 0 || after == '\r' || after == '\n')
        break;
      p = q;
      text = false;
      continue;
    }
    if (!plain.take[c])
      break;
    std::size_t len = 1;
    bool isText = false;
    if (c == ':' && next == '-')
      len = 0;
    if (c == '-' && (next == '-' || blank(next)))
      len = 0;
    if (c == '=' && next == '=')
      len = 0;
    if (c == '*' && (next == '*' || blank(next)))
      len = 0;
    if (c == '!' || c == '~' || c == '&' || c == '\\')
      isText = true;
    if ((c == '!' && next == '[') || (c == '~' && next == '~') || (c == '&' && alnum(next)) ||
        (c == '\\' && escapes) || (c == '[' && next == '^') || (c == ']' && next == ':')) {
      len = 0;
    }
    if (c == '_' && (next == '_' || (plain.underscoreAfterText && !text)))
      len = 0;
    if (c == '+') {
      isText = !blank(next);
      len = blank(next) ? 2 : 1;
    }
    if (c == '`') {
      while (at(p + len) == '`')
        ++len;
    }
    if (c == '#') {
      while (len < 6 && at(p + len) == '#')
        ++len;
    }
    if (digit(c)) {
      while (digit(at(p + len)))
        ++len;
      isText = true;
      if (at(p + len) == '.') {
        ++len;
        if (at(p + len) == ' ') {
          ++len;
          isText = false;
        }
      }
    }
    if (len == 0)
      break;
    run.escaped |= EscapedByte(c);
    p += len;
    text = isText;
  }
  run.end = p;
  run.endsInText = text;
  return run;
}

// Random lines of words, marks, blanks and multi-byte letters, long enough that the block
// scans start at every place in a block and meet the end of the input there: from every
// offset, with each table and with backslashes as escapes or as text.
TEST(PlainRun, AgreesWithTheByteByByteReading) {
  const std::string marks = " ,.;-_*`#&()+!~[]^:|=<>/\\\"'\t\r\n0123456789";
  const std::string letters = "abcdefghXYZ";
  const std::string wide[] = {"\xC3\xA9", "\xE2\x80\x99", "\x80", std::string(1, '\0')};
  constexpr PlainBytes kUnderscore = MakePlainBytes("().\"'>/:-=!~&+#0123456789", false);
  constexpr PlainBytes kCode = MakePlainBytes("().\"'<>/|:-=!~&+#0123456789*_\\", false);
  const PlainBytes* tables[] = {&kAll, &kWords, &kGlued, &kUnderscore, &kCode};
  std::uint32_t seed = 11;
  const auto random = [&seed](std::uint32_t below) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % below;
  };
  for (int d = 0; d < 300; ++d) {
    std::string doc;
    const std::uint32_t length = 1 + random(90);
    while (doc.size() < length) {
      const std::uint32_t pick = random(10);
      if (pick < 5) {
        doc.append(1 + random(d % 3 == 0 ? 40 : 8), letters[random(letters.size())]);
      } else if (pick < 6) {
        doc += wide[random(4)];
      } else {
        doc.push_back(marks[random(marks.size())]);
        if (random(3) == 0)
          doc.push_back(' ');
      }
    }
    for (const PlainBytes* plain : tables) {
      for (std::int32_t escapes = 0; escapes < 2; ++escapes) {
        for (std::size_t start = 0; start < doc.size(); ++start) {
          Lex_CL lex;
          lex.escapes = escapes;
          lex.OpenView(doc);
          lex.MoveTo(start);
          const PlainRun got = lex.TakePlain(*plain);
          const PlainRun want = ReferenceRun(doc, start, *plain, escapes);
          ASSERT_EQ(got.end, want.end) << testing::PrintToString(doc) << " from " << start;
          ASSERT_EQ(got.endsInText, want.endsInText)
              << testing::PrintToString(doc) << " from " << start;
          ASSERT_EQ(got.escaped, want.escaped) << testing::PrintToString(doc) << " from " << start;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvix
