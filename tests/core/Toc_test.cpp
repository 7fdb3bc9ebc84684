// The table of contents a template's "####TOC####" becomes: its nesting, its links and
// texts, its place among the placeholders, and its sameness in either way of finishing a
// document with forward references.
#include "core/Toc.h"

#include <gtest/gtest.h>

#include <string>

#include "api/Library.h"
#include "core/Parser_CL.h"
#include "support/Convert.h"

namespace tarvix {
namespace {

std::string PageWithToc(const std::string& markdown, bool realSecondPass) {
  Parser_CL parser;
  if (realSecondPass)
    parser.ConvertSecondPassInFull();
  PageOptions options;
  options.templateText = "[####TOC####]";
  return ConvertWith(parser, markdown, options).page;
}

TEST(Toc, NestsDownAndUpSeveralLevels) {
  EXPECT_EQ(BuildTableOfContents({}), "");
  EXPECT_EQ(BuildTableOfContents({{1, "a", "A"}, {1, "b", "B"}}),
            "<ul class=\"toc\">\n"
            "<li><a href=\"#a\">A</a></li>\n"
            "<li><a href=\"#b\">B</a></li>\n"
            "</ul>");
  // Down two levels at once nests one list; back up to the top closes both.
  EXPECT_EQ(BuildTableOfContents({{1, "a", "A"}, {3, "b", "B"}, {4, "c", "C"}, {1, "d", "D"}}),
            "<ul class=\"toc\">\n"
            "<li><a href=\"#a\">A</a>\n"
            "<ul>\n"
            "<li><a href=\"#b\">B</a>\n"
            "<ul>\n"
            "<li><a href=\"#c\">C</a></li>\n"
            "</ul>\n"
            "</li>\n"
            "</ul>\n"
            "</li>\n"
            "<li><a href=\"#d\">D</a></li>\n"
            "</ul>");
  // A heading between its parent's level and the item before it joins that item's list.
  EXPECT_EQ(BuildTableOfContents({{1, "a", "A"}, {3, "b", "B"}, {2, "c", "C"}}),
            "<ul class=\"toc\">\n"
            "<li><a href=\"#a\">A</a>\n"
            "<ul>\n"
            "<li><a href=\"#b\">B</a></li>\n"
            "<li><a href=\"#c\">C</a></li>\n"
            "</ul>\n"
            "</li>\n"
            "</ul>");
  // A page that starts deep: a shallower heading later is a sibling, and the lists that
  // are still open at the end are all closed.
  EXPECT_EQ(BuildTableOfContents({{3, "a", "A"}, {1, "b", "B"}, {2, "c", "C"}, {6, "d", "D"}}),
            "<ul class=\"toc\">\n"
            "<li><a href=\"#a\">A</a></li>\n"
            "<li><a href=\"#b\">B</a>\n"
            "<ul>\n"
            "<li><a href=\"#c\">C</a>\n"
            "<ul>\n"
            "<li><a href=\"#d\">D</a></li>\n"
            "</ul>\n"
            "</li>\n"
            "</ul>\n"
            "</li>\n"
            "</ul>");
}

TEST(Toc, EncodesIdsAndDropsTags) {
  EXPECT_EQ(PercentEncode("Aa0-._~"), "Aa0-._~");
  EXPECT_EQ(PercentEncode("a b&c#d%e/f"), "a%20b%26c%23d%25e%2Ff");
  // Byte by byte of the UTF-8: "é" is C3 A9.
  EXPECT_EQ(PercentEncode("caf\xC3\xA9"), "caf%C3%A9");
  EXPECT_EQ(WithoutTags("<em>Intro</em> to &amp; <code>x</code>"), "Intro to &amp; x");
  EXPECT_EQ(WithoutTags(" <img src=\"a>b\" alt='c>d'/>Pic "), "Pic");
  EXPECT_EQ(WithoutTags("<a href=\"u\">^n</a> tail"), "^n tail");
}

TEST(Toc, PageListsHashHeadingsOnly) {
  const std::string page = PageWithToc(
      "# An *emphasised* title\n"
      "\n"
      "Underlined\n"
      "==========\n"
      "\n"
      "### Deep (one)\n"
      "\n"
      "## Back\n"
      "\n"
      "# An *emphasised* title\n",
      false);
  EXPECT_EQ(page,
            "[<ul class=\"toc\">\n"
            "<li><a href=\"#An%20%2Aemphasised%2A%20title\">An emphasised title</a>\n"
            "<ul>\n"
            "<li><a href=\"#Deep%20one\">Deep (one)</a></li>\n"
            "<li><a href=\"#Back\">Back</a></li>\n"
            "</ul>\n"
            "</li>\n"
            "<li><a href=\"#An%20%2Aemphasised%2A%20title-1\">An emphasised title</a></li>\n"
            "</ul>]");
  EXPECT_EQ(PageWithToc("No heading here.\n\nTitle\n-----\n", false), "[]");
  EXPECT_EQ(PageWithToc("", false), "[]");
}

TEST(Toc, FilledAfterRootAndBeforeBody) {
  // "####ROOT####" in a heading's text is not searched any more; the body is never searched.
  EXPECT_EQ(ToPage("# R ####ROOT####\n\nText ####TOC####\n", "####TOC####|####BODY####"),
            "<ul class=\"toc\">\n"
            "<li><a href=\"#R%20%23%23%23%23ROOT%23%23%23%23\">R ####ROOT####</a></li>\n"
            "</ul>|<h1 id=\"R ####ROOT####\">R ####ROOT####</h1>\n"
            "<p>Text ####TOC#### </p>\n");
  // A template without the placeholder gives the page it always gave.
  EXPECT_EQ(ToPage("# T\n", "<b>####BODY####</b>"), "<b><h1 id=\"T\">T</h1>\n</b>");
}

TEST(Toc, SameWhetherTheFirstPassIsCompletedOrRepeated) {
  const char* documents[] = {
      "# See [x][r] and [^c]\n\n## Two\n\n[r]: u.html\n[^c]: c.html\n",
      "# [^c] first\n# [^c] first\n\n[^c]: t\n",
      "# A\n\n[x][r]\n\n### [y][r] deep\n\n[r]: a>b\n",
      "# [^m] undefined\n\n[x][r]\n\n[r]: u\n",
  };
  for (const char* document : documents)
    EXPECT_EQ(PageWithToc(document, false), PageWithToc(document, true)) << document;
  EXPECT_EQ(PageWithToc("# See [^c]\n\n[^c]: c.html\n", false),
            "[<ul class=\"toc\">\n"
            "<li><a href=\"#See%20%5B%5Ec%5D\">See ^c</a></li>\n"
            "</ul>]");
}

}  // namespace
}  // namespace tarvix

namespace tarvix {
namespace {

// The bytes of a literal, NULs included.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

TEST(TocNotes, ListsTheNotedSlicesOfTheBodyWithTheirHolesFilled) {
  const std::string body = Bytes(
      "<h1 id=\"a\">A &amp; b</h1>\n<p>x</p>\n<h2 id=\"b c\">B <em>e</em>\0"
      "0\0</h2>\n");
  TocNotes_CL notes;
  notes.Reserve(2);
  // Each note: where the id starts, its size, and the size of the HTML after the id's end.
  const std::size_t a = body.find("a\">");
  notes.Note(a, 1, std::string_view("A &amp; b").size());
  const std::size_t b = body.find("b c");
  notes.Note(b, 3, body.find("</h2>") - (b + 5));
  ReferenceTable links;
  ReferenceTable carets;
  FirstPass_CL firstPass(links, carets);
  ASSERT_EQ(firstPass.NewHole("n", true), 0);
  carets["n"] = "#n";
  firstPass.filling = true;
  const std::string list =
      "<ul class=\"toc\">\n"
      "<li><a href=\"#a\">A &amp; b</a>\n"
      "<ul>\n"
      "<li><a href=\"#b%20c\">B e^n</a></li>\n"
      "</ul>\n"
      "</li>\n"
      "</ul>";
  EXPECT_EQ(notes.Build(body, list.size(), firstPass), list);
  EXPECT_EQ(notes.Build(body, list.size() - 1, firstPass), std::nullopt);
  notes.Clear();
  EXPECT_EQ(notes.Build(body, list.size(), firstPass), "");
}

}  // namespace
}  // namespace tarvix
