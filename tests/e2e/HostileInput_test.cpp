// Inputs made to break a converter: each run must simply finish with its whole page.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

TEST(HostileInput, HugeSingleLineStartingWithLess) {
  ScopedTempDir dir;
  // Large enough that a scan quadratic in the line's length could not finish in time.
  constexpr std::size_t kSize = 10u << 20;
  std::string document(kSize, 'a');
  document[0] = '<';
  dir.WriteFile("doc.md", document);
  document.clear();
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  // A tag name that runs into the end of the input is no tag: it comes back as text.
  const std::string page = FileBytes(dir.PathOf("out.html"));
  EXPECT_EQ(page.size(), kSize + 3);
  EXPECT_EQ(page.substr(0, 8), "&lt;aaaa");
  EXPECT_EQ(page.find_first_not_of('a', 4), std::string::npos);
}

TEST(HostileInput, NulAndInvalidBytes) {
  ScopedTempDir dir;
  constexpr std::size_t kPairs = 1u << 20;  // 2 MB
  std::string document;
  document.reserve(2 * kPairs);
  for (std::size_t i = 0; i < kPairs; ++i)
    document.append("\0\xFF", 2);
  dir.WriteFile("doc.md", document);
  document.clear();
  const RunResult r = RunProgram(dir.path(), {"doc.md"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // Each byte becomes one U+FFFD and the page is written whole.
  std::string expected = "<p>";
  for (std::size_t i = 0; i < 2 * kPairs; ++i)
    expected.append("\xEF\xBF\xBD");
  expected.append(Lines("</p>\n"));
  EXPECT_EQ(r.out.size(), expected.size());
  EXPECT_TRUE(r.out == expected);
}

TEST(HostileInput, EmptyDocument) {
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "");
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "out.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(dir.ReadFile("out.html"), "");
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "out.html"}));
}

}  // namespace
}  // namespace tarvix
