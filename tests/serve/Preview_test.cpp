// The preview as the program runs it, in the cases where it ends by itself: it could not
// start. (The browser test runs it to a stop.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

TEST(Preview, EndsWithItsMessageWhenItCannotStart) {
  ScopedTempDir dir;
  std::filesystem::create_directories(dir.PathOf("site"));
  dir.WriteFile("site/index.md", "# Home\n");
  dir.WriteFile("doc.md", "# Doc\n");
  const struct {
    std::vector<std::string> arguments;
    const char* out;
  } cases[] = {
      {{"missing", "-serve"}, "Open Err InputFolder\ntarvix: missing: No such file or directory\n"},
      {{"doc.md", "-serve"}, "Open Err InputFolder\ntarvix: doc.md: Not a directory\n"},
      {{"site", "-serve", "-port", "70000"}, "Open Err Port\ntarvix: 70000: not a port number\n"},
      {{"site", "-serve", "-port", "8o"}, "Open Err Port\ntarvix: 8o: not a port number\n"},
      {{"site", "-serve", "-port"}, "Open Err Port\ntarvix: : not a port number\n"},
      {{"site", "-serve", "-port", "0", "-bind", "nowhere", "-o", "out"},
       "Open Err Port\ntarvix: nowhere:0: not an address\n"},
      // A first site run that refused was followed by serving what was there: the input
      // folder's documents, or nothing at all.
      {{"site", "-serve", "-port", "0", "-o", "site"},
       "Input Folder and Output Folder may not contain each other\n"},
      {{"site", "-serve", "-port", "0", "-o", "doc.md"}, "Open Err OutputFolder\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = RunProgram(dir.path(), c.arguments);
    EXPECT_EQ(r.status, 255) << c.arguments[0];
    EXPECT_EQ(r.out, Lines(c.out)) << c.arguments[0];
    EXPECT_EQ(r.err, "") << c.arguments[0];
  }
  // Nothing was converted: the port is checked before the site run.
  EXPECT_FALSE(std::filesystem::exists(dir.PathOf("out/index.html")));
  EXPECT_FALSE(std::filesystem::exists(dir.PathOf("site/index.html")));
}

}  // namespace
}  // namespace tarvix
