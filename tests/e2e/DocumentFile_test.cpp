// A document named as a file (mapped where the system can) and the same bytes brought by
// the standard input (read whole) make the same page, large documents whose pages are
// given back behind the conversion included.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

// `piece` `times` times over.
std::string Times(std::string_view piece, std::size_t times) {
  std::string s;
  for (std::size_t i = 0; i < times; ++i)
    s.append(piece);
  return s;
}

TEST(DocumentFile, FileAndStandardInputGiveTheSamePage) {
  // Constructs that look back (emphasis, links, tables), a reference used before its
  // definition (two passes), a byte-order mark, a last line without its end, NUL bytes.
  const std::string blocks =
      "# Heading\n\nSome *emphasis* and **strong** text with [a link](u.html) and [ref][r].\n\n"
      "> a quote\n> > deeper\n\n- one\n- two\n  1. three\n\n| a | b |\n|:-|-:|\n| 1 | 2 |\n\n"
      "```cpp\nint x = 1;\n```\n\n    indented code\n\nText `code` ~~gone~~ <b>tag</b> "
      "<https://example.com/x>.\n\n";
  std::string nul = "a\0b *c\0*\n\n";
  nul.insert(1, 1, '\0');
  const std::vector<std::string> documents = {
      "\xEF\xBB\xBF# Marked\n\n" + blocks + "[r]: r.html\n",
      blocks + "[r]: r.html\n*open at the end",
      // Beyond the point where the pages behind the conversion start to be given back,
      // several times over, with the definition at the very end.
      Times(blocks, (std::size_t{9} << 20) / blocks.size()) + nul + "[r]: end.html",
  };
  ScopedTempDir dir;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    RunOptions options;
    options.standardInput = dir.WriteFile("doc.md", documents[i]);
    const RunResult fromFile = RunProgram(dir.path(), {"doc.md", "-o", "file.html"});
    const RunResult fromInput = RunProgram(dir.path(), {"-", "-o", "input.html"}, options);
    EXPECT_EQ(fromFile.status, 0) << i;
    EXPECT_EQ(fromInput.status, 0) << i;
    EXPECT_EQ(fromFile.out + fromFile.err, "") << i;
    EXPECT_EQ(fromInput.out + fromInput.err, "") << i;
    const std::string page = dir.ReadFile("file.html");
    // The reference resolved: the second pass saw its definition.
    EXPECT_NE(page.find("\">ref</a>"), std::string::npos) << i;
    EXPECT_TRUE(page == dir.ReadFile("input.html")) << i;
  }
}

}  // namespace
}  // namespace tarvix
