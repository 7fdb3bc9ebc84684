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

}  // namespace
}  // namespace tarvix
