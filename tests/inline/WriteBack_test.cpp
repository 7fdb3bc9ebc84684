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

// Words of both lengths: a short one, and one longer than the stretches of escaped source
// that a failed construct keeps as they are instead of escaping them again.
const std::string kWords[] = {"v", std::string(300, 'v')};

TEST(WriteBack, ClosedSpansInsideFailedOnesAtEveryDepth) {
  // A failed construct copies the parts of its inside that are escaped source already
  // and escapes the rest: closed spans, tags and references all turn back into source.
  for (const std::string& v : kWords) {
    const std::string a = "*p " + v + " [q **r " + v + " `s` t** " + v + " u";
    EXPECT_EQ(ToHtml(a), "<p>" + a + "</p>\n");
    const std::string b = "[a **b** " + v + " c *d **e** " + v + " f";
    EXPECT_EQ(ToHtml(b), "<p>" + b + "</p>\n");
    EXPECT_EQ(ToHtml("*a **b & <c> " + v + " `d<e`** " + v + " f [g"),
              "<p>*a **b &amp; &lt;c&gt; " + v + " `d&lt;e`** " + v + " f [g</p>\n");
    EXPECT_EQ(ToHtml("**a _b `c` &copy; " + v + " d\ne** f"),
              "<p><strong>a _b `c` &amp;copy; " + v + " d e</strong> f</p>\n");
    // One level after another fails, each around closed spans.
    const std::string c = Repeat("*a **b** [c `d` " + v + " ", 100);
    EXPECT_EQ(ToHtml(c), "<p>" + c + "</p>\n");
  }
}

TEST(WriteBack, ClosedLinkAndImageInsideAFailedSpan) {
  // A link's tag is longer than its `[`: what its text wrote moves with it, and the star
  // around it that fails must find that text where it went.
  for (const std::string& v : kWords) {
    EXPECT_EQ(ToHtml("[a _b " + v + " `c` **d**\ne](u) *f"),
              "<p><a href=\"u\">a _b " + v + " `c` **d** e</a> *f</p>\n");
    EXPECT_EQ(ToHtml("*x " + v + " [a " + v + " _b `c` " + v + " **d**\ne](u) y"),
              "<p>*x " + v + " [a " + v + " _b `c` " + v + " **d** e](u) y</p>\n");
    EXPECT_EQ(ToHtml("*x **a _b `c` " + v + " d\ne** y [z"),
              "<p>*x **a _b `c` " + v + " d e** y [z</p>\n");
    // An image and a definition replace what their text wrote.
    const std::string a = "*a ![b **c** " + v + " d](u) e **f** g";
    EXPECT_EQ(ToHtml(a), "<p>" + a + "</p>\n");
    const std::string b = "*a ![b " + v + " **c** d](u) e **f** g";
    EXPECT_EQ(ToHtml(b), "<p>" + b + "</p>\n");
    EXPECT_EQ(ToHtml("~~a [b " + v + " **c** d]: u\ne *f* g"),
              "<p>~~a [b " + v + " **c** d]: ue *f* g</p>\n");
    EXPECT_EQ(ToHtml("**p " + v + " ![b _c `d`" + v + "\ne](u) f"),
              "<p>**p " + v + " ![b _c `d`" + v + " e](u) f</p>\n");
    EXPECT_EQ(ToHtml("~~a [b **c** " + v + " d]: u\ne *f* g"),
              "<p>~~a [b **c** " + v + " d]: ue *f* g</p>\n");
  }
}

TEST(WriteBack, CharacterRunsAcrossMarkupWithoutText) {
  // A break writes no source text: the bytes on both sides of it join into one character
  // when the span around them fails, even where the part before the break was kept.
  for (const std::string& v : kWords) {
    EXPECT_EQ(ToHtml("*" + v + "\xC3  \n\xA9 b"), "<p>*" + v + "\xC3\xA9 b</p>\n");
    EXPECT_EQ(ToHtml("*" + v + "\xC3  \n\xA9 **b** c"), "<p>*" + v + "\xC3\xA9 **b** c</p>\n");
    EXPECT_EQ(ToHtml("*x " + v + " \xE2\\\x82\xAC **y** z"),
              "<p>*x " + v + " \xE2\x82\xAC **y** z</p>\n");
    // A tag's text does not continue a character: each side is an invalid byte.
    EXPECT_EQ(ToHtml("*" + v + "\xC3 <b>\xA9 c [d"),
              "<p>*" + v + "\xEF\xBF\xBD &lt;b&gt;\xEF\xBF\xBD c [d</p>\n");
  }
}

}  // namespace
}  // namespace tarvix
