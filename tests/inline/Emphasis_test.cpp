// Delimited spans: which token closes each, what must follow a closer, which line ends a
// span crosses, and what an unmatched span writes back.
#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Emphasis, UnderscoreClosesBeforeABlankOrLineEnd) {
  EXPECT_EQ(ToHtml("_a_ b"), "<p><em>a</em> b</p>\n");
  EXPECT_EQ(ToHtml("_a b_\nc"), "<p><em>a b</em> c</p>\n");
  EXPECT_EQ(ToHtml("_a_  \nc"), "<p><em>a</em><br />\nc</p>\n");
  // A delimiter inside a word is text of the span.
  EXPECT_EQ(ToHtml("_a_b_ c"), "<p><em>a_b</em> c</p>\n");
  EXPECT_EQ(ToHtml("_a *b* c_ d"), "<p><em>a <em>b</em> c</em> d</p>\n");
}

TEST(Emphasis, UnderscoreNeverSpansALine) {
  // The closer is followed by ".", and the line end then leaves the span open.
  EXPECT_EQ(ToHtml("_a_.\nb"), "<p>_a_. b</p>\n");
  EXPECT_EQ(ToHtml("_x\ny_ z"), "<p>_x y_ z</p>\n");
  // At the end of input a delimiter counts as inside a word, and the span closes.
  EXPECT_EQ(ToHtml("_a_"), "<p><em>a_</em></p>\n");
  EXPECT_EQ(ToHtml("a _"), "<p>a <em></em></p>\n");
}

TEST(Emphasis, StarRunsOnAcrossLines) {
  EXPECT_EQ(ToHtml("*a* b"), "<p><em>a</em> b</p>\n");
  EXPECT_EQ(ToHtml("*a*b* c"), "<p><em>a*b</em> c</p>\n");
  EXPECT_EQ(ToHtml("*a\n\nb* c"), "<p><em>a  b</em> c</p>\n");
  EXPECT_EQ(ToHtml("*a\n# b\n* c"), "<p><em>a # b </em> c</p>\n");
  EXPECT_EQ(ToHtml("*a*"), "<p><em>a*</em></p>\n");
  // A star with a blank after it is a bullet, written as text.
  EXPECT_EQ(ToHtml("2 * 3"), "<p>2 * 3</p>\n");
}

TEST(Emphasis, UnmatchedStarWritesTheRestBack) {
  EXPECT_EQ(ToHtml("2*3\n\nmore _text_\n\n# h\n"), "<p>2*3  more _text_  # h </p>\n");
  // A hard-break stop ends the open span; its break is lost with the inner HTML.
  EXPECT_EQ(ToHtml("*a  \n  b"), "<p>*a b</p>\n");
  // The opener's text keeps the blank after a quote marker; a closed span drops it.
  EXPECT_EQ(ToHtml("> x\n> *b c"), "<blockquote><p>x  *b c</p>\n</blockquote>");
  EXPECT_EQ(ToHtml("> x\n> *b* c"), "<blockquote><p>x <em>b</em> c</p>\n</blockquote>");
}

TEST(Emphasis, StrongAndStrike) {
  EXPECT_EQ(ToHtml("**a**"), "<p><strong>a</strong></p>\n");
  EXPECT_EQ(ToHtml("__a__ and **b__"), "<p><strong>a</strong> and <strong>b</strong></p>\n");
  EXPECT_EQ(ToHtml("**a**b"), "<p><strong>a</strong>b</p>\n");
  EXPECT_EQ(ToHtml("x ** a **"), "<p>x <strong> a </strong></p>\n");
  EXPECT_EQ(ToHtml("**a *b* c**"), "<p><strong>a <em>b</em> c</strong></p>\n");
  EXPECT_EQ(ToHtml("**a\nb**"), "<p><strong>a b</strong></p>\n");
  EXPECT_EQ(ToHtml("~~a~~ ~b"), "<p><del>a</del> ~b</p>\n");
}

TEST(Emphasis, UnclosedStrongEndsAtABlankLine) {
  // The write-back keeps the source of the inside, not its markup.
  EXPECT_EQ(ToHtml("**a *b* c\n\nd"), "<p>**a *b* c  d</p>\n");
  EXPECT_EQ(ToHtml("~~a\n\nb"), "<p>~~a  b</p>\n");
  EXPECT_EQ(ToHtml("**a  \n# h"), "<p>**a# h</p>\n");
  EXPECT_EQ(ToHtml("> **a\nb"), "<blockquote><p>**a </p>\n</blockquote><p>b</p>\n");
}

TEST(Emphasis, CodeSpans) {
  EXPECT_EQ(ToHtml("x `a` b"), "<p>x <code>a</code> b</p>\n");
  EXPECT_EQ(ToHtml("x `<b> & *c*`"), "<p>x <code>&lt;b&gt; &amp; *c*</code></p>\n");
  // A run of another length is code text.
  EXPECT_EQ(ToHtml("x ``a ` b``"), "<p>x <code>a ` b</code></p>\n");
  // Blanks collapse, line ends become blanks, a hard break is code text.
  EXPECT_EQ(ToHtml("x `  a   b  `"), "<p>x <code> a b </code></p>\n");
  EXPECT_EQ(ToHtml("x `a\n\nb`"), "<p>x <code>a  b</code></p>\n");
  EXPECT_EQ(ToHtml("x `a  \nb`"), "<p>x <code>a  \nb</code></p>\n");
  EXPECT_EQ(ToHtml("x `&copy; [x](u)`"), "<p>x <code>&amp;copy; [x](u)</code></p>\n");
}

TEST(Emphasis, BackslashesInCodeSpans) {
  EXPECT_EQ(ToHtml("x `a\\b`"), "<p>x <code>a&yen;b</code></p>\n");
  EXPECT_EQ(ToHtml("x `\\`"), "<p>x <code>&yen;</code></p>\n");
  // Escapes are back on after the closing run.
  EXPECT_EQ(ToHtml("x `\\` \\*b"), "<p>x <code>&yen;</code> *b</p>\n");
}

TEST(Emphasis, UnclosedCodeSpanIsText) {
  EXPECT_EQ(ToHtml("x `a"), "<p>x `a</p>\n");
  EXPECT_EQ(ToHtml("x `a\\b\n\n*c*"), "<p>x `a&yen;b  *c*</p>\n");
  EXPECT_EQ(ToHtml("> x `a\nb"), "<blockquote><p>x `a </p>\n</blockquote><p>b</p>\n");
}

TEST(Emphasis, CodeSpansInsideOtherConstructs) {
  // A span that closes on its line is taken from its bytes; inside a construct that
  // matches, fails or keeps source text it must read as its tokens would.
  EXPECT_EQ(ToHtml("*a `b c` d*"), "<p><em>a <code>b c</code> d*</em></p>\n");
  EXPECT_EQ(ToHtml("*a `b c` d"), "<p>*a `b c` d</p>\n");
  EXPECT_EQ(ToHtml("[x `a` y](u) and [z `b`"),
            "<p><a href=\"u\">x <code>a</code> y</a> and [z `b`</p>\n");
  EXPECT_EQ(ToHtml("![`a b` c](i.png)"), "<p><img src=\"i.png\" alt=\"`a b` c\" /></p>\n");
  EXPECT_EQ(ToHtml("**a `b` c** `d` _e `f`_"),
            "<p><strong>a <code>b</code> c</strong> <code>d</code> <em>e <code>f</code>_</em></p>\n");
  EXPECT_EQ(ToHtml("x `a` ``b`c`` `d`"),
            "<p>x <code>a</code> <code>b`c</code> <code>d</code></p>\n");
  // Escapes are back on right after the closing run; a tab or a longer blank inside is
  // one space, as the token reader writes it.
  EXPECT_EQ(ToHtml("x `a`\\*b"), "<p>x <code>a</code>*b</p>\n");
  EXPECT_EQ(ToHtml("x `a\tb`"), "<p>x <code>a b</code></p>\n");
  EXPECT_EQ(ToHtml("# h `a  b` c\n# h `a b` c"),
            "<h1 id=\"h `a b` c\">h <code>a b</code> c</h1>\n"
            "<h1 id=\"h `a b` c-1\">h <code>a b</code> c</h1>\n");
  EXPECT_EQ(ToHtml(std::string("x `caf\xC3\xA9 \0 \xFF`", 13)),
            "<p>x <code>caf\xC3\xA9 \xEF\xBF\xBD \xEF\xBF\xBD</code></p>\n");
}

TEST(Emphasis, SourceTextOfSpans) {
  // The alt text of an image and a heading's id show the source text that spans keep.
  EXPECT_EQ(ToHtml("![_a_b_ c *d* **e__ ~~f~~ `g  h`](i.png)"),
            "<p><img src=\"i.png\" alt=\"_a_b_ c *d* **e__ ~~f~~ `g h`\" /></p>\n");
  EXPECT_EQ(ToHtml("# a _"), "<h1 id=\"a __\">a <em></em></h1>\n");
}

TEST(Emphasis, HostileAlternationsFinish) {
  const std::string stars = Repeat("*_", 512 * 1024);
  EXPECT_EQ(ToHtml(stars), "<p>" + stars + "</p>\n");

  const std::string spans = Repeat("**~~", 256 * 1024);
  const std::string html = ToHtml(spans);
  EXPECT_EQ(html.rfind("<p><strong><del><strong><del>", 0), 0u);
  EXPECT_EQ(html.substr(html.size() - 5), "</p>\n");
  EXPECT_GT(html.size(), spans.size());
  EXPECT_LT(html.size(), spans.size() * 4);
}

}  // namespace
}  // namespace tarvix
