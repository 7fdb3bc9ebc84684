#include <gtest/gtest.h>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Tables, AlignmentsAndAlternatingRows) {
  EXPECT_EQ(ToHtml("| a | b | c |\n|:--|:-:|--:|\n| 1 | 2 | 3 |\n| 4 | 5 | 6 |\n| 7 | 8 | 9 |\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"center\">b</th>\n<th align=\"right\">c</th>\n</tr>\n</thead>\n<tbody>\n"
            "<tr class=\"odd\">\n<td align=\"left\">1</td>\n<td align=\"center\">2</td>\n"
            "<td align=\"right\">3</td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">4</td>\n<td align=\"center\">5</td>\n"
            "<td align=\"right\">6</td>\n</tr>\n"
            "<tr class=\"odd\">\n<td align=\"left\">7</td>\n<td align=\"center\">8</td>\n"
            "<td align=\"right\">9</td>\n</tr>\n</tbody>\n</table>\n");
}

TEST(Tables, RowsArePaddedOrCutToTheColumns) {
  EXPECT_EQ(ToHtml("|a|b|\n|-|---|\n|1|\n|2|3|4|\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"left\">b</th>\n</tr>\n</thead>\n<tbody>\n"
            "<tr class=\"odd\">\n<td align=\"left\">1</td>\n<td align=\"left\"></td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">2</td>\n<td align=\"left\">3</td>\n</tr>\n"
            "</tbody>\n</table>\n");
  // A blank line right after the alignment row is a row of empty cells.
  EXPECT_EQ(ToHtml("|a|\n|-|\n\nx\n\ny\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n</tr>\n"
            "</thead>\n<tbody>\n<tr class=\"odd\">\n<td align=\"left\"></td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">x</td>\n</tr>\n</tbody>\n</table>\n"
            "<p>y </p>\n");
}

TEST(Tables, HeaderAndAlignmentAtEndOfInputHaveNoBody) {
  EXPECT_EQ(ToHtml("|a|b|\n|--|:-:|"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"center\">b</th>\n</tr>\n</thead>\n</table>\n");
}

TEST(Tables, ParagraphLineHandsItsTextToTheFirstCell) {
  EXPECT_EQ(ToHtml("a | b\n--|--\nx | y\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"left\">b</th>\n</tr>\n</thead>\n<tbody>\n<tr class=\"odd\">\n"
            "<td align=\"left\">x</td>\n<td align=\"left\">y</td>\n</tr>\n</tbody>\n</table>\n");
  // No table: the paragraph keeps the `|` and the rest of its lines as text.
  EXPECT_EQ(ToHtml("a | b\nc | d\n"), "<p>a | b c | d </p>\n");
}

TEST(Tables, LinesThatAreNoTableFromTheBlockLoop) {
  EXPECT_EQ(ToHtml("|\n"), "<p>|\n</p>");
  EXPECT_EQ(ToHtml("|a|b|"), "<p>|a|b|</p>");
  // Header cells come back as rendered HTML, delimiters as read.
  EXPECT_EQ(ToHtml("|a&b|\n"), "<p>|a&amp;b|\n</p>");
  EXPECT_EQ(ToHtml("|a|b|\n|-|\n"), "<p>|a|b|\n|-|</p>");
  EXPECT_EQ(ToHtml("|a|\n | x\n"), "<p>|a|\n |</p><p> x </p>\n");
  // "-:" is a hyphen and a colon, no alignment mark.
  EXPECT_EQ(ToHtml("|a|\n|-:|\n"), "<p>|a|\n|-</p><p>:| </p>\n");
  // The line end after a lone first cell is taken as its delimiter.
  EXPECT_EQ(ToHtml("|a\n|-|\n"), "<p>|a\n|-|\n</p>");
  EXPECT_EQ(ToHtml("| a | b |\n| x | y |\n"), "<p>| a | b |\n|</p><p> x | y | </p>\n");
  EXPECT_EQ(ToHtml("|a|b|\n| - | - |\n"), "<p>|a|b|\n|</p><ul>\n<li></li>\n</ul>\n<p>| - |\n</p>");
}

TEST(Tables, QuotedTableEndsWithTheQuote) {
  EXPECT_EQ(ToHtml("> |a|\n> |-|\n> |1|\nb\n"),
            "<blockquote><table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "</tr>\n</thead>\n<tbody>\n<tr class=\"odd\">\n<td align=\"left\">1</td>\n</tr>\n"
            "</tbody>\n</table>\n</blockquote><p>b </p>\n");
  // A code span left open ends the row where the quote ends; the row is padded.
  EXPECT_EQ(ToHtml("> |a|b|\n> |-|-|\n> |`x\nc\n"),
            "<blockquote><table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"left\">b</th>\n</tr>\n</thead>\n<tbody>\n<tr class=\"odd\">\n"
            "<td align=\"left\">`x</td>\n<td align=\"left\"></td>\n</tr>\n</tbody>\n</table>\n"
            "</blockquote><p>c </p>\n");
}

TEST(Tables, RowsOfLettersAndPipesReadAsTheirTokensWould) {
  // Rows of letters, digits and pipes alone are written from their lines; rows with any
  // other byte (a star, a blank, a carriage return) are read token by token between them.
  EXPECT_EQ(ToHtml("|a|b|\n|-|:-:|\n|x|y|\nz\n||\n|\nA1|2|3|\n|*e*|f|\n|g|h|\r\nk|\nm| n\n\n"
                   "after\n"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n"
            "<th align=\"center\">b</th>\n</tr>\n</thead>\n<tbody>\n"
            "<tr class=\"odd\">\n<td align=\"left\">x</td>\n<td align=\"center\">y</td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">z</td>\n<td align=\"center\"></td>\n</tr>\n"
            "<tr class=\"odd\">\n<td align=\"left\"></td>\n<td align=\"center\"></td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\"></td>\n<td align=\"center\"></td>\n</tr>\n"
            "<tr class=\"odd\">\n<td align=\"left\">A1</td>\n<td align=\"center\">2</td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">*e*</td>\n<td align=\"center\">f</td>\n"
            "</tr>\n"
            "<tr class=\"odd\">\n<td align=\"left\">g</td>\n<td align=\"center\">h</td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">k</td>\n<td align=\"center\"></td>\n</tr>\n"
            "<tr class=\"odd\">\n<td align=\"left\">m</td>\n<td align=\"center\">n</td>\n</tr>\n"
            "</tbody>\n</table>\n<p>after </p>\n");
  // The last line of the input has no line end: it is read token by token.
  EXPECT_EQ(ToHtml("|a|\n|-|\nb\nc"),
            "<table>\n<thead>\n<tr class=\"header\">\n<th align=\"left\">a</th>\n</tr>\n"
            "</thead>\n<tbody>\n<tr class=\"odd\">\n<td align=\"left\">b</td>\n</tr>\n"
            "<tr class=\"even\">\n<td align=\"left\">c</td>\n</tr>\n</tbody>\n</table>\n");
}

TEST(Tables, ManyOneLetterRowsMakeOneRowEach) {
  // A table of short rows makes many times its bytes in markup; each line is one row.
  constexpr std::size_t kRows = 200000;
  const std::string html = ToHtml("|a|\n|-|\n" + Repeat("x\n|y|\n", kRows / 2) + "\nend\n");
  std::size_t rows = 0;
  for (std::size_t at = html.find("<tr class=\""); at != std::string::npos;
       at = html.find("<tr class=\"", at + 1))
    ++rows;
  EXPECT_EQ(rows, kRows + 1);
  const std::string_view end =
      "<td align=\"left\">y</td>\n</tr>\n</tbody>\n</table>\n<p>end </p>\n";
  ASSERT_GE(html.size(), end.size());
  EXPECT_EQ(html.substr(html.size() - end.size()), end);
}

TEST(Tables, LastLineWithPipesIsAParagraph) {
  // With no line end left there is no alignment row: the line is a paragraph, and a long
  // one is not held as header cells first.
  EXPECT_EQ(ToHtml("a|b|a"), "<p>a|b|a</p>\n");
  EXPECT_EQ(ToHtml("z|[x]: /u|[l][x] [x]"), "<p>z|[x]: /u|[l][x] [x]</p>\n");
  const std::string line = Repeat("a|&", 200000);
  EXPECT_EQ(ToHtml(line), "<p>" + Repeat("a|&amp;", 200000) + "</p>\n");
}

}  // namespace
}  // namespace tarvix
