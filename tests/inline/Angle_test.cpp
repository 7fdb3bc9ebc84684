// Constructs that start with `<`: tags, comments and addresses between angle brackets.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/Parser_CL.h"
#include "support/Convert.h"

namespace tarvix {
namespace {

struct Angle {
  std::string html;
  std::string text;
  std::string next;  // the token left current: its text, with its code when not TEXT
};

// Renders the construct at the start of `bytes`, read at quote depth `depth`.
Angle Render(const std::string& bytes, std::int32_t depth = 0) {
  Parser_CL parser;
  parser.quoteDepth = depth;
  parser.lex.OpenBytes(bytes);
  parser.NextToken(false);
  OutputPair out;
  parser.RenderAngle(out);
  const Token& t = parser.lex.current;
  std::string next = t.Text();
  // Appended piece by piece: an optimizing g++ 12 warns falsely on "@" + std::to_string().
  if (t.code != 0x54584554) {
    next += '@';
    next += std::to_string(t.code);
    if (t.IsDepth()) {
      next += '/';
      next += std::to_string(t.count);
    }
  }
  return {out.html, out.text, next};
}

TEST(Angle, TagsPassUnchanged) {
  Angle a = Render("<b>x");
  EXPECT_EQ(a.html, "<b>");
  EXPECT_EQ(a.text, "<b>");
  EXPECT_EQ(a.next, "x");
  EXPECT_EQ(Render("</b>").html, "</b>");
  EXPECT_EQ(Render("<span class='x'>").html, "<span class='x'>");
  EXPECT_EQ(Render("<a href=\"u\" title=\"a > b\">").html, "<a href=\"u\" title=\"a > b\">");
  EXPECT_EQ(Render("<input disabled>").html, "<input disabled>");
  EXPECT_EQ(Render("<img src='a.png' />").html, "<img src='a.png' />");
  EXPECT_EQ(Render("<!DOCTYPE html>").html, "<!DOCTYPE html>");
  EXPECT_EQ(Render("<b/x>").html, "<b/x>");
}

TEST(Angle, TagSourceIsRebuiltFromTokens) {
  // Blanks after an attribute name and before the end of a closing tag are dropped.
  EXPECT_EQ(Render("<a href = 'x' >").html, "<a href='x' >");
  EXPECT_EQ(Render("<a b c>").html, "<a bc>");
  EXPECT_EQ(Render("</b  >").html, "</b>");
  EXPECT_EQ(Render("</b  >").text, "</b>");
  // A line end inside a quoted value reads as a blank.
  EXPECT_EQ(Render("<a title='a\nb'>").html, "<a title='a b'>");
}

TEST(Angle, EmptyElementTagsPass) {
  EXPECT_EQ(Render("<br />").html, "<br />");
  EXPECT_EQ(Render("<hr />x").next, "x");
  EXPECT_EQ(Render("<br/>").html, "<br/>");
  Angle a = Render("<br / >");
  EXPECT_EQ(a.html, "&lt;br ");
  EXPECT_EQ(a.text, "<br ");
  EXPECT_EQ(a.next, "/@47");
}

TEST(Angle, NonTagsAreEscapedText) {
  Angle a = Render("<a href=x>");
  EXPECT_EQ(a.html, "&lt;a href=");
  EXPECT_EQ(a.text, "<a href=");
  EXPECT_EQ(a.next, "x");

  a = Render("< b");
  EXPECT_EQ(a.html, "&lt;");
  EXPECT_EQ(a.text, "<");
  EXPECT_EQ(a.next, " @20563");

  a = Render("<b");
  EXPECT_EQ(a.html, "&lt;b");
  EXPECT_EQ(a.text, "<b");
  EXPECT_EQ(a.next, "@4607813");

  // The end of input inside a tag with attributes ends the attempt.
  EXPECT_EQ(Render("<a href='x'").html, "&lt;a href=&apos;x&apos;");
  EXPECT_EQ(Render("<a href='x' title").html, "&lt;a href=&apos;x&apos; title");
  EXPECT_EQ(Render("<a href='x").html, "&lt;a href=&apos;x");
  EXPECT_EQ(Render("</b").html, "&lt;/b");
  EXPECT_EQ(Render("<*b>").html, "&lt;");
}

TEST(Angle, CommentsPassAndFeedTheHeader) {
  Parser_CL parser;
  parser.lex.OpenBytes("<!-- title: T -->x");
  parser.NextToken(false);
  OutputPair out;
  parser.RenderAngle(out);
  EXPECT_EQ(out.html, "<!-- title: T -->");
  EXPECT_EQ(out.text, "<!-- title: T -->");
  EXPECT_EQ(parser.header.title, "T");
  EXPECT_EQ(parser.lex.current.Text(), "x");

  Angle a = Render("<!--\ntitle: x\nrest");
  EXPECT_EQ(a.html, "&lt;!--\ntitle: x\nrest");
  EXPECT_EQ(a.next, "@4607813");
  // "!" without "--" starts a tag.
  EXPECT_EQ(Render("<!x y='1'>").html, "<!x y='1'>");

  EXPECT_EQ(ToHtml("<b>"), "<b>");
  EXPECT_EQ(ToHtml("<!-- c -->"), "<!-- c -->");
}

TEST(Angle, WebAddressesBecomeLinks) {
  EXPECT_EQ(Render("<https://example.com/a?b=c>").html,
            "<a href=\"https://example.com/a?b=c\" title=\"https://example.com/a?b=c\">"
            "https://example.com/a?b=c</a>");
  EXPECT_EQ(Render("<http://a.b/?x=1&y=2#f>").html,
            "<a href=\"http://a.b/?x=1&y=2#f\" title=\"http://a.b/?x=1&y=2#f\">"
            "http://a.b/?x=1&y=2#f</a>");
  // The address may appear anywhere between the brackets.
  EXPECT_EQ(Render("<xhttps://q>").html,
            "<a href=\"xhttps://q\" title=\"xhttps://q\">xhttps://q</a>");
  // Without an address character after "://" it is a tag.
  EXPECT_EQ(Render("<https://>").html, "<https://>");
  EXPECT_EQ(Render("<ftp://a.b>").html, "<ftp://a.b>");
  // Attributes mean a tag.
  EXPECT_EQ(Render("<a x https://a.b>").html, "<a xhttps://a.b>");
  EXPECT_EQ(ToHtml("<https://a.b/c>"),
            "<a href=\"https://a.b/c\" title=\"https://a.b/c\">https://a.b/c</a>");
}

TEST(Angle, MailAddressesAreEncoded) {
  Angle a = Render("<name@example.com>x");
  const std::string encoded =
      "&#x6E;&#x61;&#x6D;&#x65;&#x40;&#x65;&#x78;&#x61;&#x6D;&#x70;&#x6C;&#x65;&#x2E;&#x63;"
      "&#x6F;&#x6D;";
  EXPECT_EQ(a.html,
            "<a href=\"mailto:" + encoded + "\" title=\"" + encoded + "\">" + encoded + "</a>");
  EXPECT_EQ(a.text, "<name@example.com>");
  EXPECT_EQ(a.next, "x");
  EXPECT_EQ(Render("<\xC3\xBC@z>").html,
            "<a href=\"mailto:&#xC3;&#xBC;&#x40;&#x7A;\" title=\"&#xC3;&#xBC;&#x40;&#x7A;\">"
            "&#xC3;&#xBC;&#x40;&#x7A;</a>");
  // The "@" needs a character on each side, and line ends do not count.
  EXPECT_EQ(Render("<@x>").html, "<@x>");
  EXPECT_EQ(Render("<x@>").html, "<x@>");
  EXPECT_EQ(Render("<a\n@b>").html, "<a\n@b>");
  EXPECT_EQ(Render("<a@\nb>").html, "<a@\nb>");
  EXPECT_EQ(Render("<a\n@b@c>").html,
            "<a href=\"mailto:&#x61;&#x0A;&#x40;&#x62;&#x40;&#x63;\" "
            "title=\"&#x61;&#x0A;&#x40;&#x62;&#x40;&#x63;\">"
            "&#x61;&#x0A;&#x40;&#x62;&#x40;&#x63;</a>");
}

TEST(Angle, DepthTokensEndConstructs) {
  // A tag name that runs into a line whose quote depth differs.
  Angle a = Render("> <b\nc>", 1);
  EXPECT_EQ(a.html, "&lt;b\n");
  EXPECT_EQ(a.next, ">@62/0");

  a = Render("> <a href='x\nb'>", 1);
  EXPECT_EQ(a.html, "&lt;a href=&apos;x ");
  EXPECT_EQ(a.next, ">@62/0");

  a = Render("> <a href='x'\nb>", 1);
  EXPECT_EQ(a.html, "&lt;a href=&apos;x&apos;\n");
  EXPECT_EQ(a.next, ">@62/0");

  // A marker that changes the depth never closes a tag or a comment.
  a = Render("> </b\n>> x", 1);
  EXPECT_EQ(a.html, "&lt;/b\n");
  EXPECT_EQ(a.next, ">@62/2");

  a = Render("> <!-- a --\n>> x", 1);
  EXPECT_EQ(a.html, "&lt;!-- a --\n");
  EXPECT_EQ(a.next, ">@62/2");

  Parser_CL parser;
  parser.quoteDepth = 1;
  parser.lex.OpenBytes("> <!-- title: q\nd -->");
  parser.NextToken(false);
  OutputPair out;
  parser.RenderAngle(out);
  EXPECT_EQ(out.html, "&lt;!-- title: q\n");
  EXPECT_EQ(parser.header.title, "q");
  EXPECT_TRUE(parser.lex.current.IsDepth());
}

TEST(Angle, LongAddressesDoNotExhaustTheStack) {
  const std::string letters(1 << 20, 'a');
  EXPECT_EQ(Render("<" + letters + ">").html, "<" + letters + ">");

  std::string encoded;
  for (int i = 0; i < (1 << 20); ++i)
    encoded += "&#x61;";
  encoded += "&#x40;&#x62;";
  EXPECT_EQ(Render("<" + letters + "@b>").html,
            "<a href=\"mailto:" + encoded + "\" title=\"" + encoded + "\">" + encoded + "</a>");

  std::string path;
  for (int i = 0; i < (1 << 19); ++i)
    path += "a/";
  const std::string url = "http://" + path;
  EXPECT_EQ(Render("<" + url + ">").html,
            "<a href=\"" + url + "\" title=\"" + url + "\">" + url + "</a>");
  // No address among many lines.
  std::string lines;
  for (int i = 0; i < (1 << 18); ++i)
    lines += "x\n@";
  EXPECT_EQ(Render("<" + lines + ">").html, "<" + lines + ">");
}

}  // namespace
}  // namespace tarvix
