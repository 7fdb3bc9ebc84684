// Plain runs: taking tokens straight from the bytes must end where token-by-token scanning
// puts a token boundary, and the scan from there must go on with the same tokens.
#include <gtest/gtest.h>

#include <cstddef>
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

}  // namespace
}  // namespace tarvix
