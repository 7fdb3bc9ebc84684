// A document with references used before their definitions: the page made by completing
// the first pass must be the page a second conversion of the whole document makes.
#include <gtest/gtest.h>

#include <string>

#include "api/Library.h"
#include "core/Parser_CL.h"

namespace tarvix {
namespace {

std::string Convert(const std::string& markdown, bool realSecondPass, bool imageLink = false) {
  Parser_CL parser;
  if (realSecondPass)
    parser.ConvertSecondPassInFull();
  PageOptions options;
  options.imageLink = imageLink;
  return ConvertWith(parser, markdown, options).page;
}

TEST(SecondPass, CompletedFirstPassMatchesSecondConversion) {
  const char* documents[] = {
      "[x][r] and ![p][r] and [r][]\n\n[r]: u.html\n",
      "[x][r]\n\n[r]: first\n\n[y][r]\n\n[r]: second\n\n[z][r]\n",
      "[x][missing] [y][r]\n\n[r]: u\n",
      "see [^n] and [^n]\n\n[^n]: n.html\n",
      "# [^n] title\n\n| [^n] | b |\n|-|-|\n| [^n] | [^m] |\n\n[^n]: t\n",
      "# [^m] title\n\n[^n]: t\n",
      "[![a][r]][]\n\n[![a][r]]: w\n[r]: i.png\n",
      "[![a][r]][k]\n\n[k]: w\n[r]: i.png\n",
      "# T\n# T\n[x][r]\n# T\n\n[r]: u\n",
      "> [x][r]\n> > [^c]\nb\n\n[r]: u\n[^c]: c\n",
      "[a & b][]\n\n[a & b]: amp\n",
      // Caret links that stay undefined: inside text, at the trimmed edges of a heading
      // and of cells, and inside labels looked up as written or defined as written.
      "text [^u] more [x][r]\n\n[r]: u\n",
      "# title [^u]\n\n[x][r]\n\n[r]: u\n",
      "## [^u] title [^v]\n\n[x][r]\n\n[r]: u\n",
      "| a [^u] | b |\n|-|-|\n| [^u] | c [^v] d |\n\n[x][r]\n[r]: u\n",
      "[lbl [^u]][] [x][r]\n\n[lbl ]: l\n[r]: u\n",
      "[x][] [lbl [^u]][] [y][r]\n\n[lbl]: l\n[r]: u\n",
      "[][lbl ][lbl [^]]:l\n",
      "[y][lbl ] [lbl [^u]]: l\n[z][lbl ]\n",
      // A label holding a caret link defined later, or a reference of its own.
      "[k [^c] ][] [x][r]\n\n[^c]: c\n[r]: u\n",
      "[k [^c] ]: l\n[x][r] [y][k ]\n\n[^c]: c\n[r]: u\n",
      "[a [b][r] c][] [x][r]\n\n[r]: u\n",
      // A definition's label holding a link that is never defined, or defined only after
      // the definition, used before and after it.
      "[x][k ] [k [^u] ]: l\n[y][k ] [z][r]\n\n[r]: u\n",
      "[x][a  c] [a [b][q] c]: l\n[y][a  c] [z][r]\n\n[r]: u\n",
      "[x][a  c] [a [b][q] c]: l\n[y][a  c] [z][r]\n\n[r]: u\n[q]: \n",
      "[x][a  c] [a [b][q] c]: l\n[y][a  c] [z][r]\n\n[r]: u\n[q]: v\n",
      "[k [^c] [^d] ]: l\n[x][k  ] [y][r]\n\n[^d]: d\n[r]: u\n",
  };
  for (const char* document : documents) {
    EXPECT_EQ(Convert(document, false), Convert(document, true)) << document;
    EXPECT_EQ(Convert(document, false, true), Convert(document, true, true)) << document;
  }
  // An id holds its bytes as they are, NUL included: the same key in either pass.
  const std::string withNul = std::string("[x][a\0b] [y][r]\n\n[a\0b]: n\n[r]: u\n", 33);
  EXPECT_EQ(Convert(withNul, false), Convert(withNul, true));
}

// A definition whose label holds a caret link not defined yet is kept under its label as
// written without the link, and a reference written that way before it finds it.
TEST(SecondPass, DefinitionWithAnUndefinedCaretLinkInItsLabelIsFound) {
  EXPECT_EQ(Convert("[][lbl ][lbl [^]]:l\n", false), "<p><a href=\"l\"></a></p>\n");
  EXPECT_EQ(Convert("[x][lbl ]\n\n[lbl [^u]]: l\n", false),
            "<p><a href=\" l\">x</a></p>\n<p></p>\n");
}

TEST(SecondPass, ForwardReferencesResolve) {
  EXPECT_EQ(Convert("[x][r] [^c]\n\n[^c]: t\n\n[r]: u\n", false),
            "<p><a href=\" u\">x</a> <a href=\" t\" alt=\"c\">^c</a></p>\n<p></p>\n");
}

}  // namespace
}  // namespace tarvix
