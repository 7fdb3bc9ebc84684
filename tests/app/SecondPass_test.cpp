// A document with references used before their definitions: the page made by completing
// the first pass must be the page a second conversion of the whole document makes.
#include <gtest/gtest.h>

#include <string>

#include "app/Library.h"
#include "app/Parser_CL.h"

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
  };
  for (const char* document : documents) {
    EXPECT_EQ(Convert(document, false), Convert(document, true)) << document;
    EXPECT_EQ(Convert(document, false, true), Convert(document, true, true)) << document;
  }
}

TEST(SecondPass, ForwardReferencesResolve) {
  EXPECT_EQ(Convert("[x][r] [^c]\n\n[^c]: t\n\n[r]: u\n", false),
            "<p><a href=\" u\">x</a> <a href=\" t\" alt=\"c\">^c</a></p>\n<p></p>\n");
}

}  // namespace
}  // namespace tarvix
