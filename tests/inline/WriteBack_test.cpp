// Constructs that fail to match inside one another: each writes back its source text,
// escaped as a whole, whatever its inside had rendered.
#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(WriteBack, EscapedByteContinuesTheCharacterBeforeIt) {
  // A failed span kept its inside's HTML, escaped token by token, and so split a character
  // whose bytes a backslash had kept apart; escaped as a whole they form one character.
  EXPECT_EQ(ToHtml("*b\xC3\\\xA9"), "<p>*b\xC3\xA9</p>\n");
  EXPECT_EQ(ToHtml("*p \xE2\\\x82\xAC **q** \xE2\\\x82\xAC\n"),
            "<p>*p \xE2\x82\xAC **q** \xE2\x82\xAC </p>\n");
  // Outside a construct each token is escaped alone: two invalid bytes.
  EXPECT_EQ(ToHtml("b\xC3\\\xA9"), "<p>b\xEF\xBF\xBD\xEF\xBF\xBD</p>\n");
}

TEST(WriteBack, MarkupOfTheInsideBecomesSourceAgain) {
  // Strong, a link and a hard break inside a star that never closes: all source text; the
  // break wrote no source text, so the lines join.
  EXPECT_EQ(ToHtml("*a **b** [c](d) e  \nf"), "<p>*a **b** [c](d) ef</p>\n");
  EXPECT_EQ(ToHtml("*x _y **z** w\n"), "<p>*x _y **z** w </p>\n");
  EXPECT_EQ(ToHtml("_a ~~b~~ `c` d\n*e &copy; **f\n"),
            "<p>_a ~~b~~ `c` d *e &amp;copy; **f </p>\n");
  // A definition writes no HTML, yet its source is part of the star's.
  EXPECT_EQ(ToHtml("*a [x]: u\n"), "<p>*a [x]: u</p>\n");
  // An undefined caret link writes nothing in the pass that is written out.
  EXPECT_EQ(ToHtml("**a [^n] b\n"), "<p>**a [^n] b </p>\n");
}

TEST(WriteBack, OpenersDroppedInsideLinkText) {
  // Inside link and image text, `[` and `![` leave only source text; the constructs around
  // them write it back all the same.
  EXPECT_EQ(ToHtml("[![[![x"), "<p>[![[![x</p>\n");
  EXPECT_EQ(ToHtml("*a [b [c"), "<p>*a [b [c</p>\n");
  EXPECT_EQ(ToHtml("_a [b ![c d](u)_ e"), "<p>_a [b ![c d](u)_ e</p>\n");
}

TEST(WriteBack, MatchedSpansInsideFailedOnesAndTheReverse) {
  // A closed span inside an open one; an open span inside a would-be closed one takes the
  // closer as its own inside, so both fail.
  EXPECT_EQ(ToHtml("**a _b_ c"), "<p>**a _b_ c</p>\n");
  EXPECT_EQ(ToHtml("**a _b c**"), "<p>**a _b c**</p>\n");
  EXPECT_EQ(ToHtml("~~a [b **c** d~~"), "<p>~~a [b **c** d~~</p>\n");
  EXPECT_EQ(ToHtml("~~a **b** c~~ d"), "<p><del>a <strong>b</strong> c</del> d</p>\n");
  EXPECT_EQ(ToHtml("[a *b* `c` d](u) *e"),
            "<p><a href=\"u\">a <em>b</em> <code>c</code> d</a> *e</p>\n");
}

}  // namespace
}  // namespace tarvix
