// Inputs made to break the converter, converted in memory: each must finish with an output
// of the expected shape, and documents nested to the bounds must come out exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "support/Convert.h"

namespace tarvix {
namespace {

// Every input is about this size, but the single line, which is five times longer: enough
// that work quadratic in the length could not finish within the test's time limit, and
// nesting deeper than any stack could hold if a construct recursed without its bound.
constexpr std::size_t kInputSize = 2u << 20;

// `piece` written `times` times, built by doubling so that huge inputs cost little.

// One stretch of an expected output: `piece`, `times` times over.
struct Stretch {
  std::string_view piece;
  std::size_t times = 1;
};

// The start of `s`, readable in a failure message.
std::string Shown(std::string_view s) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  for (const char c : s.substr(0, 60)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127)
      shown += c;
    else
      shown += {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
  }
  return shown;
}

// Whether `html` is exactly the stretches in order; on a mismatch, where and what. Compares
// without building the expected output, which for some inputs is many megabytes.
testing::AssertionResult Spells(std::string_view html, std::initializer_list<Stretch> stretches) {
  std::size_t at = 0;
  for (const Stretch& stretch : stretches) {
    const std::string block = Repeat(stretch.piece, std::min<std::size_t>(stretch.times, 4096));
    for (std::size_t left = stretch.times; left > 0;) {
      const std::size_t n = std::min<std::size_t>(left, 4096);
      const std::string_view want = std::string_view(block).substr(0, n * stretch.piece.size());
      if (html.substr(at, want.size()) != want) {
        std::size_t first = 0;
        while (at + first < html.size() && first < want.size() && html[at + first] == want[first])
          ++first;
        return testing::AssertionFailure()
               << "output of " << html.size() << " bytes differs at byte " << at + first
               << ": expected \"" << Shown(want.substr(first)) << "\", found \""
               << Shown(html.substr(std::min(at + first, html.size()))) << "\"";
      }
      at += want.size();
      left -= n;
    }
  }
  if (at != html.size())
    return testing::AssertionFailure() << "output has " << html.size() - at << " bytes too many: \""
                                       << Shown(html.substr(at)) << "\"";
  return testing::AssertionSuccess();
}

// Well-formed UTF-8 without NUL: what a page must be, whatever bytes the document held.
bool IsCleanUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c == 0)
      return false;
    if (c < 0x80)
      length = 1;
    else if (c >= 0xC2 && c <= 0xDF)
      length = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      low = c == 0xE0 ? 0xA0 : 0x80;
      high = c == 0xED ? 0x9F : 0xBF;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      low = c == 0xF0 ? 0x90 : 0x80;
      high = c == 0xF4 ? 0x8F : 0xBF;
    } else {
      return false;
    }
    if (i + length > s.size())
      return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + k]);
      if (d < (k == 1 ? low : 0x80) || d > (k == 1 ? high : 0xBF))
        return false;
    }
    i += length;
  }
  return true;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// --- Huge inputs: each must finish, with an output of the derived shape. ---

TEST(HostileDocument, BracketOpenersOverManyLines) {
  // The first opener's text runs over every line; the openers inside it are dropped from the
  // markup, and with no "]" anywhere the whole text comes back as written, lines joined.
  for (const std::string_view opener : {"[", "!["}) {
    const std::string line = Repeat(opener, 1000 / opener.size()) + "\n";
    const std::size_t lines = kInputSize / line.size();
    const std::string joined = line.substr(0, line.size() - 1) + " ";
    EXPECT_TRUE(Spells(ToHtml(Repeat(line, lines)), {{"<p>"}, {joined, lines}, {"</p>\n"}}))
        << opener;
  }
}

TEST(HostileDocument, TagStartsThatNeverClose) {
  // Each "<a " is a tag name followed by something that is no attribute: escaped text, one
  // block after another.
  const std::size_t n = kInputSize / 3;
  EXPECT_TRUE(Spells(ToHtml(Repeat("<a ", n)), {{"&lt;a ", n}}));
}

TEST(HostileDocument, AlternatingEmphasisOpeners) {
  // The openers nest to the bound; then the innermost star run takes the rest, no span
  // closes, and everything is written back as the source.
  const std::string document = Repeat("*_", kInputSize / 2);
  EXPECT_TRUE(Spells(ToHtml(document), {{"<p>"}, {document}, {"</p>\n"}}));
}

TEST(HostileDocument, DoubledDelimiterRuns) {
  // Asterisks, however many, are one rule.
  EXPECT_EQ(ToHtml(std::string(kInputSize, '*')), "<hr />\n");
  // Tildes pair off into empty strikethroughs.
  const std::size_t pairs = kInputSize / 4;
  EXPECT_TRUE(
      Spells(ToHtml(Repeat("~~", 2 * pairs)), {{"<p>"}, {"<del></del>", pairs}, {"</p>\n"}}));
}

TEST(HostileDocument, BacktickRunsOfGrowingLength) {
  // The first run opens a code span that no run of another length closes: it reaches the end
  // of the input and the whole paragraph is its source text.
  std::string document = "a";
  for (std::size_t length = 1; document.size() < kInputSize; ++length)
    document.append(length, '`').append("a");
  EXPECT_TRUE(Spells(ToHtml(document), {{"<p>"}, {document}, {"</p>\n"}}));
}

TEST(HostileDocument, LinkTargetsThatNeverClose) {
  // The first link's address collects everything after its "(", up to the end of the input.
  const std::string document = Repeat("[x](", kInputSize / 4);
  EXPECT_TRUE(Spells(ToHtml(document), {{"<p>"}, {document}, {"</p>\n"}}));
}

TEST(HostileDocument, OpenersThatNeverCloseAroundClosedSpans) {
  // Each star and bracket fails around a strong span, a tag and a code span: every level
  // turns its inside back into source, and the whole line comes out as escaped text.
  const std::string_view piece = "*a **b** [c <d e> `f` ";
  const std::size_t pieces = kInputSize / piece.size();
  EXPECT_TRUE(Spells(ToHtml(Repeat(piece, pieces)),
                     {{"<p>"}, {"*a **b** [c &lt;d e&gt; `f` ", pieces}, {"</p>\n"}}));
}

TEST(HostileDocument, QuoteMarkers) {
  // One line of markers and nothing else: as many quotes opened, and all closed at the end.
  const std::size_t markers = kInputSize;
  EXPECT_TRUE(Spells(ToHtml(std::string(markers, '>')),
                     {{"<blockquote>", markers}, {"</blockquote>", markers}}));

  // Each line one marker deeper: one more quote per line, all closed by the end of input.
  std::string document;
  std::size_t lines = 0;
  for (std::string markersOfLine = "> "; document.size() < kInputSize; markersOfLine += "> ") {
    document += markersOfLine + "x\n";
    ++lines;
  }
  EXPECT_TRUE(
      Spells(ToHtml(document), {{"<blockquote><p>x</p>\n", lines}, {"</blockquote>", lines}}));
}

TEST(HostileDocument, StarBulletsIndentedDeeperEachLine) {
  // Lines two blanks deeper each nest one list, up to 64 lists; deeper lines are items of the
  // innermost one.
  std::string document;
  std::size_t lines = 0;
  while (document.size() < kInputSize)
    document += std::string(2 * lines++, ' ') + "* x\n";
  EXPECT_TRUE(Spells(ToHtml(document), {{"<ul>\n<li>x</li>\n", 64},
                                        {"<li>x</li>\n", lines - 65},
                                        {"<li>x </li>\n"},
                                        {"</ul>\n", 64}}));
}

TEST(HostileDocument, TablePipes) {
  // Lines of a lone pipe: every three lines are a table attempt that fails at its alignment
  // line and is written back as a paragraph.
  const std::size_t groups = kInputSize / 6;
  EXPECT_TRUE(Spells(ToHtml(Repeat("|\n", 3 * groups)), {{"<p>|\n|\n|</p>", groups}}));

  // Rows without an alignment row: the first attempt from the block start fails at the second
  // line; the paragraph that follows tries once more, fails, and keeps every later pipe as text.
  const std::size_t rows = kInputSize / 6;
  EXPECT_TRUE(Spells(ToHtml(Repeat("|a|b|\n", rows)),
                     {{"<p>|a|b|\n|</p><p>a|b|"}, {" |a|b|", rows - 2}, {" </p>\n"}}));

  // A header, an alignment row and nothing but body rows after them: one table.
  const std::string document = "|a|b|\n|-|-|\n" + Repeat("|1|2|\n", 2 * (rows / 2));
  EXPECT_TRUE(
      Spells(ToHtml(document),
             {{"<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
               "<th align=\"left\">b</th>\n</tr>\n</thead>\n<tbody>\n"},
              {"<tr class=\"odd\">\n<td align=\"left\">1</td>\n<td align=\"left\">2</td>\n</tr>\n"
               "<tr class=\"even\">\n<td align=\"left\">1</td>\n<td align=\"left\">2</td>\n</tr>\n",
               rows / 2},
              {"</tbody>\n</table>\n"}}));
}

TEST(HostileDocument, Ampersands) {
  const std::size_t n = kInputSize;
  EXPECT_TRUE(Spells(ToHtml(std::string(n, '&')), {{"<p>"}, {"&amp;", n}, {"</p>\n"}}));
}

TEST(HostileDocument, BytesThatAreNoText) {
  // A NUL is a character of the text, written as U+FFFD: it never cuts the output short.
  const std::string nuls(kInputSize, '\0');
  const std::string html = ToHtml(nuls);
  EXPECT_TRUE(IsCleanUtf8(html));
  EXPECT_TRUE(Spells(html, {{"<p>"}, {kReplacement, nuls.size()}, {"</p>\n"}}));

  // Invalid UTF-8: one U+FFFD for each maximal invalid piece, valid characters kept.
  const std::string piece =
      "\xFF"      // never in UTF-8
      "\x80\xBF"  // lone continuation bytes, one each
      "\xE2\x82"  // a three-byte character cut short
      "a"
      "\xF0\x9F\x98"  // a four-byte character cut short
      "b"
      "\xC3"  // a two-byte lead alone
      "c"
      "\xED\xA0\x80"  // a surrogate: its lead and both continuation bytes
      "d"
      "\xC3\xA9"  // e acute, valid
      "\xC0\xAF"  // an overlong slash
      "e"
      "\xF4\x90\x80\x80"  // above U+10FFFF
      "f";
  const std::string r(kReplacement);
  const std::string expected = r + r + r + r + "a" + r + "b" + r + "c" + r + r + r + "d" +
                               "\xC3\xA9" + r + r + "e" + r + r + r + r + "f";
  const std::size_t pieces = kInputSize / piece.size();
  const std::string invalid = ToHtml(Repeat(piece, pieces) + "\xE2\x82");
  EXPECT_TRUE(IsCleanUtf8(invalid));
  EXPECT_TRUE(Spells(invalid, {{"<p>"}, {expected, pieces}, {kReplacement}, {"</p>\n"}}));
}

TEST(HostileDocument, CarriageReturnLineEnds) {
  // A lone CR ends a line and two make a blank line, so every block shape holds.
  const std::string piece = "p\rq\r\r- a\r  - b\r\r";
  const std::size_t pieces = kInputSize / piece.size();
  EXPECT_TRUE(Spells(ToHtml(Repeat(piece, pieces)),
                     {{"<p>p q</p>\n<ul>\n<li>a</li>\n<ul>\n<li>b</li>\n</ul>\n</ul>\n", pieces}}));
}

TEST(HostileDocument, TenMegabyteLineInAPage) {
  // Placeholder names in the text are text: the body goes into the page last and unsearched.
  const std::string words = "lorem ipsum ####BODY#### dolor, sit ####ROOT#### amet. ";
  const std::string line = Repeat(words, (5 * kInputSize) / words.size());
  const std::string page = ToPage(line, "<title>####TITLE####</title>\n####BODY####</html>\n");
  EXPECT_TRUE(Spells(page, {{"<title></title>\n<p>"}, {line}, {"</p>\n</html>\n"}}));
}

// --- Documents nested exactly to the bounds: 64 inline runs (the block's own run is the
// first) and 64 lists. ---

TEST(HostileNesting, OpenersAtTheBoundInEveryKindOfRun) {
  // With 63 runs active the openers inside a strikethrough still open the 64th: the code
  // spans keep the reference and the backslash as code text.
  const std::string inner = "`&copy;` `a\\*b` **b** _e_ [l](u) ![i](p.png) x";
  EXPECT_EQ(ToHtml(Repeat("**~~", 31) + inner + Repeat("~~**", 31)),
            "<p>" + Repeat("<strong><del>", 31) +
                "<code>&amp;copy;</code> <code>a&yen;*b</code> <strong>b</strong> "
                "<em>e</em> <a href=\"u\">l</a> <img src=\"p.png\" alt=\"i\" /> x" +
                Repeat("</del></strong>", 31) + "</p>\n");
  // In the 64th run, a strikethrough, they are text: the backticks open no code, so the
  // reference passes and the backslash escapes.
  EXPECT_EQ(ToHtml(Repeat("~~**", 31) + "~~" + inner + "~~" + Repeat("**~~", 31)),
            "<p>" + Repeat("<del><strong>", 31) +
                "<del>`&copy;` `a*b` **b** _e_ [l](u) ![i](p.png) x</del>" +
                Repeat("</strong></del>", 31) + "</p>\n");

  // The 64th run an underscore emphasis.
  EXPECT_EQ(ToHtml(Repeat("_**", 31) + "_`c` ~~d~~ **e** [l](u)_ " + Repeat("**_ ", 31)),
            "<p>" + Repeat("<em><strong>", 31) + "<em>`c` ~~d~~ **e** [l](u)</em>" +
                Repeat(" </strong></em>", 31) + " </p>\n");

  // A heading's and a table cell's own run count as the first, as a paragraph's does.
  const std::string nested = Repeat("~~**", 31) + "~~**h**~~" + Repeat("**~~", 31);
  const std::string html =
      Repeat("<del><strong>", 31) + "<del>**h**</del>" + Repeat("</strong></del>", 31);
  EXPECT_EQ(ToHtml("# " + nested), "<h1 id=\"" + nested + "\">" + html + "</h1>\n");
  EXPECT_EQ(ToHtml("|" + nested + "|\n|-|\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">" + html +
                "</th>\n</tr>\n</thead>\n</table>\n");
}

TEST(HostileNesting, LinksNestedToTheBound) {
  // Link text cannot hold a link directly, so links nest through strong text. The 64th run
  // is a link's text: every level is rendered.
  EXPECT_EQ(ToHtml(Repeat("[**", 31) + "[x](u)" + Repeat("**](u)", 31)),
            "<p>" + Repeat("<a href=\"u\"><strong>", 31) + "<a href=\"u\">x</a>" +
                Repeat("</strong></a>", 31) + "</p>\n");
  // One opener more: inside the 64th run "**" is text, the closing "**" too.
  EXPECT_EQ(ToHtml(Repeat("[**", 32) + "x" + Repeat("**](u)", 32)),
            "<p>" + Repeat("<a href=\"u\"><strong>", 31) + "<a href=\"u\">**x**</a>" +
                Repeat("</strong></a>", 31) + "</p>\n");
  // A "[" that would open the 65th run is text, and so is its "](u)".
  EXPECT_EQ(ToHtml(Repeat("**[", 32) + "x" + Repeat("](u)**", 32)),
            "<p>" + Repeat("<strong><a href=\"u\">", 31) + "<strong>[x](u)</strong>" +
                Repeat("</a></strong>", 31) + "</p>\n");
  // An image whose text is the 64th run is rendered inside the link.
  EXPECT_EQ(ToHtml(Repeat("**[", 31) + "![i](p.png)" + Repeat("](u)**", 31)),
            "<p>" + Repeat("<strong><a href=\"u\">", 31) + "<img src=\"p.png\" alt=\"i\" />" +
                Repeat("</a></strong>", 31) + "</p>\n");
  // One level deeper the "![" is text, so its "]" ends the link text and "(p.png)" becomes
  // the link's address; the outer "](u)" is then text of the strong run.
  EXPECT_EQ(ToHtml(Repeat("[**", 31) + "[![i](p.png)](u)" + Repeat("**](u)", 31)),
            "<p>" + Repeat("<a href=\"u\"><strong>", 31) + "<a href=\"p.png\">![i</a>](u)" +
                Repeat("</strong></a>", 31) + "</p>\n");
  // A "[" inside link text opens no run at any depth: at the bound it is still dropped.
  EXPECT_EQ(ToHtml(Repeat("[**", 31) + "[a[b](u)" + Repeat("**](u)", 31)),
            "<p>" + Repeat("<a href=\"u\"><strong>", 31) + "<a href=\"u\">ab</a>" +
                Repeat("</strong></a>", 31) + "</p>\n");
}

TEST(HostileNesting, HundredLevelsInsideAQuote) {
  // 100 alternating openers: past the bound they close the innermost runs, the text after
  // them nests again up to the bound, and the 100 closers balance what is left.
  EXPECT_EQ(ToHtml("> " + Repeat("~~__", 50) + "x" + Repeat("__~~", 50) + "\n"),
            "<blockquote><p>" + Repeat("<del><strong>", 13) + "<del>" +
                Repeat("<strong><del>", 18) + "__" + Repeat("</del></strong>", 18) + "x" +
                Repeat("<strong><del>", 18) + "__" + Repeat("</del></strong>", 18) + "</del>" +
                Repeat("</strong></del>", 13) + "</p>\n</blockquote>");
  // Without the closers the quote's end stops every run: all of it is written back.
  EXPECT_EQ(ToHtml("> " + Repeat("~~__", 50) + "x\nb\n"),
            "<blockquote><p>" + Repeat("~~__", 50) + "x </p>\n</blockquote><p>b </p>\n");
}

TEST(HostileNesting, HundredEmphasisOpenersInAListItem) {
  // The innermost star run goes on over the line end and the next bullet; nothing closes.
  EXPECT_EQ(ToHtml("- " + Repeat("*_", 50) + "\n- y\n"),
            "<ul>\n<li>" + Repeat("*_", 50) + " - y </li>\n</ul>\n");
}

TEST(HostileNesting, ListsNestedToTheBound) {
  // Numbered lines, each three blanks deeper: the 65th line is an item of the 64th list.
  const auto numbered = [](int lines) {
    std::string doc;
    for (int i = 0; i < lines; ++i)
      doc += std::string(3 * i, ' ') + "1. x\n";
    return doc;
  };
  EXPECT_EQ(ToHtml(numbered(64)),
            Repeat("<ol>\n<li>x</li>\n", 63) + "<ol>\n<li>x </li>\n" + Repeat("</ol>\n", 64));
  EXPECT_EQ(ToHtml(numbered(65)),
            Repeat("<ol>\n<li>x</li>\n", 64) + "<li>x </li>\n" + Repeat("</ol>\n", 64));

  // A deeper line without a marker gives an empty nested list, except under the 64th list.
  const auto bullets = [](int lines) {
    std::string doc;
    for (int i = 0; i < lines; ++i)
      doc += std::string(2 * i, ' ') + "- x\n";
    return doc + std::string(130, ' ') + "y\n";
  };
  EXPECT_EQ(ToHtml(bullets(63)), Repeat("<ul>\n<li>x</li>\n", 63) + "<ul>\n</ul>\n" +
                                     Repeat("</ul>\n", 63) + "<p>y </p>\n");
  EXPECT_EQ(ToHtml(bullets(64)),
            Repeat("<ul>\n<li>x</li>\n", 64) + Repeat("</ul>\n", 64) + "<p>y </p>\n");
}

}  // namespace
}  // namespace tarvix
