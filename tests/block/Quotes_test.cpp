#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Quotes, DepthChangesWriteTheDifferenceInTags) {
  // A continued quoted line keeps the blank after its marker.
  EXPECT_EQ(ToHtml("> a\n> b\n"), "<blockquote><p>a  b</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("> a\n> > b\nc\n"),
            "<blockquote><p>a</p>\n<blockquote><p>b</p>\n</blockquote></blockquote><p>c </p>\n");
  EXPECT_EQ(ToHtml("> > a\n>b\n"),
            "<blockquote><blockquote><p>a</p>\n</blockquote><p>b</p>\n</blockquote>");
}

TEST(Quotes, EmptyAndMarkerOnlyLinesKeepTheQuote) {
  EXPECT_EQ(ToHtml("> a\n\n> b\n"), "<blockquote><p>a</p>\n<p> b</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("> a\n>\n> b\n"), "<blockquote><p>a</p>\n<p> b</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("> a\n\nb\n"), "<blockquote><p>a</p>\n</blockquote><p>b </p>\n");
}

TEST(Quotes, MarkerAfterBlanksIsNoQuote) {
  EXPECT_EQ(ToHtml("  > a\n"), "<p>a </p>\n");
  EXPECT_EQ(ToHtml("> a\n  > b\n"), "<blockquote><p>a</p>\n</blockquote><p>b </p>\n");
}

TEST(Quotes, OpenQuotesCloseAtEndOfInput) {
  EXPECT_EQ(ToHtml("> a"), "<blockquote><p>a</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("> > a"), "<blockquote><blockquote><p>a</p>\n</blockquote></blockquote>");
}

TEST(Quotes, QuoteEndingInsideTableHeaderIsNoTable) {
  EXPECT_EQ(ToHtml("> |a\nb"), "<blockquote><p>|a\n</p></blockquote><p>b</p>\n");
  EXPECT_EQ(ToHtml("> |a|\n|-|\n"), "<blockquote><p>|a|\n</p></blockquote><p>|-|\n</p>");
}

TEST(Quotes, FiftyThousandMarkersFinish) {
  EXPECT_EQ(ToHtml(Repeat(">", 50000) + " x\n"),
            Repeat("<blockquote>", 50000) + "<p>x</p>\n" + Repeat("</blockquote>", 50000));
}

}  // namespace
}  // namespace tarvix
