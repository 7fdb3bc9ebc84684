// Images: the inline and reference forms, alt texts, images inside image and link text,
// and the wrapping link that -imagelink adds.
#include <gtest/gtest.h>

#include <string>

#include "support/Convert.h"

namespace tarvix {
namespace {

TEST(Images, InlineImages) {
  EXPECT_EQ(ToHtml("![p](i.png)"), "<p><img src=\"i.png\" alt=\"p\" /></p>\n");
  EXPECT_EQ(ToHtml("![p](i.png \"T\")"), "<p><img src=\"i.png \" alt=\"p\" title=\"T\" /></p>\n");
  // The alt text is source text, written unescaped.
  EXPECT_EQ(ToHtml("![_p_ q](i.png)"), "<p><img src=\"i.png\" alt=\"_p_ q\" /></p>\n");
  EXPECT_EQ(ToHtml("![a\"b & c](i.png)"), "<p><img src=\"i.png\" alt=\"a\"b & c\" /></p>\n");
  EXPECT_EQ(ToHtml("![a  \nb](i.png)"), "<p><img src=\"i.png\" alt=\"ab\" /></p>\n");
}

TEST(Images, UnmatchedImagesAreText) {
  EXPECT_EQ(ToHtml("![p] x"), "<p>![p] x</p>\n");
  EXPECT_EQ(ToHtml("![p](i.png"), "<p>![p](i.png</p>\n");
  // "]:" does not end image text.
  EXPECT_EQ(ToHtml("![a]: b"), "<p>![a]: b</p>\n");
  EXPECT_EQ(ToHtml("![a\n\nb](i.png)"), "<p>![a  b](i.png)</p>\n");
  EXPECT_EQ(ToHtml("> ![a](i.png\nb"), "<blockquote><p>![a](i.png</p>\n</blockquote><p>b</p>\n");
}

TEST(Images, ReferenceImages) {
  EXPECT_EQ(ToHtml("![p][r]\n[r]: i.png\n"), "<p><img src=\" i.png\" alt=\"p\" /> </p>\n");
  EXPECT_EQ(ToHtml("[p]: i.png\n![p][]"), "<p><img src=\" i.png\" alt=\"p\" /></p>\n");
  EXPECT_EQ(ToHtml("![p][r]"), "<p><img src=\"\" alt=\"p\" /></p>\n");
}

TEST(Images, ImagesInsideImageAndLinkText) {
  // The inner "![" is dropped from the HTML, and the first "]" closes the outer image.
  EXPECT_EQ(ToHtml("![a ![b](x.png)](y.png)"),
            "<p><img src=\"x.png\" alt=\"a ![b\" />](y.png)</p>\n");
  EXPECT_EQ(ToHtml("![a [b](u)](i.png)"), "<p><img src=\"u\" alt=\"a [b\" />](i.png)</p>\n");
  EXPECT_EQ(ToHtml("[![p](i.png)](page.html)"),
            "<p><a href=\"page.html\"><img src=\"i.png\" alt=\"p\" /></a></p>\n");
}

TEST(Images, ImageLinkOption) {
  EXPECT_EQ(ToHtml("![p](i.png)", true),
            "<p><a href=\"i.png\" alt=\"p\" target=\"_blank\"><img src=\"i.png\" alt=\"p\" "
            "/></a></p>\n");
  EXPECT_EQ(ToHtml("![p](i.png \"T\")", true),
            "<p><a href=\"i.png \" alt=\"p\" target=\"_blank\"><img src=\"i.png \" alt=\"p\" "
            "title=\"T\" /></a></p>\n");
  EXPECT_EQ(ToHtml("![p][r]", true),
            "<p><a href=\"\" alt=\"p\" target=\"_blank\"><img src=\"\" alt=\"p\" /></a></p>\n");
  // Links are not affected.
  EXPECT_EQ(ToHtml("[p](u)", true), "<p><a href=\"u\">p</a></p>\n");
}

TEST(Images, HostileImageOpenersFinish) {
  const std::string openers = Repeat("![", 5 * 1024 * 1024);
  EXPECT_EQ(ToHtml(openers), "<p>" + openers + "</p>\n");
}

}  // namespace
}  // namespace tarvix
