#include <gtest/gtest.h>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(CodeBlocks, FenceNamesItsBrushAsWritten) {
  EXPECT_EQ(ToHtml("```js\nvar a = 1;\n```\n"), "<pre class=\"brush: js;\">var a = 1;\n</pre>\n");
  EXPECT_EQ(ToHtml("```JS\nx\n```\n"), "<pre class=\"brush: JS;\">x\n</pre>\n");
  EXPECT_EQ(ToHtml("``` Js \nx\n```\n"), "<pre class=\"brush: Js;\">x\n</pre>\n");
  EXPECT_EQ(ToHtml("```cobol\nx\n```\n"), "<pre>x\n</pre>\n");
  EXPECT_EQ(ToHtml("```\nx\n```\n"), "<pre>x\n</pre>\n");
}

TEST(CodeBlocks, FenceKeepsCodeLiteral) {
  EXPECT_EQ(ToHtml("```\n<a & \"b\">\\*\n# _c_\n```\n\\*"),
            "<pre>&lt;a &amp; &quot;b&quot;&gt;&yen;*\n# _c_\n</pre>\n<p>*</p>\n");
}

TEST(CodeBlocks, FenceClosesOnlyAtARunOfItsLength) {
  EXPECT_EQ(ToHtml("```\na ``` b\n"), "<pre>a </pre>\n<p>b </p>\n");
  EXPECT_EQ(ToHtml("```\na\n````\n``\n```\n"), "<pre>a\n````\n``\n</pre>\n");
  EXPECT_EQ(ToHtml("```\na\n\n# b\n"), "<pre>a\n\n# b\n</pre>\n");
  // A fence that closes at once holds its info text.
  EXPECT_EQ(ToHtml("```x```\n"), "<pre>x</pre>\n");
  EXPECT_EQ(ToHtml("```js\n```\n"), "<pre>js</pre>\n");
  EXPECT_EQ(ToHtml("`a` b"), "<pre>a</pre>\n<p>b</p>\n");
}

TEST(CodeBlocks, FenceInsideQuoteEndsWithTheQuote) {
  EXPECT_EQ(ToHtml("> ```\n> x\ny\n"), "<blockquote><pre> x\n</pre>\n</blockquote><p>y </p>\n");
}

TEST(CodeBlocks, IndentedLinesDropFourBlanks) {
  EXPECT_EQ(ToHtml("    a\n    b\n"), "<pre>a\nb\n</pre>\n");
  EXPECT_EQ(ToHtml("      a\n      b\n"), "<pre>  a\n  b\n</pre>\n");
  EXPECT_EQ(ToHtml("    a\\*<b>\n\n\\*"), "<pre>a&yen;*&lt;b&gt;\n</pre>\n<p>*</p>\n");
  // An empty line ends the block; a line of blanks does not.
  EXPECT_EQ(ToHtml("    a\n\n    b\n"), "<pre>a\n</pre>\n<pre>b\n</pre>\n");
  EXPECT_EQ(ToHtml("    a\n      \n    \n    b\n"), "<pre>a\n  \n\nb\n</pre>\n");
  // Blanks at the end of a code line make a hard break, so the next line is read raw.
  EXPECT_EQ(ToHtml("    a  \n    b\n"), "<pre>a  \n    b\n</pre>\n");
}

TEST(CodeBlocks, TabCountsAsOneBlank) {
  EXPECT_EQ(ToHtml("\ta\n"), "<p>a </p>\n");
  EXPECT_EQ(ToHtml("\t\t\t\ta\n"), "<pre>a\n</pre>\n");
  EXPECT_EQ(ToHtml("\t\t\t\t\tb"), "<pre>\tb</pre>\n");
}

}  // namespace
}  // namespace tarvix
