// The page's output file: the page reaches the output file only when it is committed
// whole, and a page that is dropped leaves the output file and its folder as they were.
#include "core/PageOutput_CL.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

// The names in `folder`, sorted.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PageOutput, ReplacesTheTargetOnlyWhenCommittedWhole) {
  ScopedTempDir dir;
  const std::string target = dir.WriteFile("page.html", "old page");
  std::string reason;
  {
    PageOutput_CL output;
    output.Prepare();
    ASSERT_TRUE(output.CreateTemporary("Tarvix", dir.path(), &reason)) << reason;
    ASSERT_TRUE(output.OpenTemporary(&reason)) << reason;
    EXPECT_FALSE(output.IntoNode());
    output.Write("new ");
    output.Write("page");
    EXPECT_EQ(dir.ReadFile("page.html"), "old page");
    ASSERT_TRUE(output.Close(&reason)) << reason;
    EXPECT_EQ(dir.ReadFile("page.html"), "old page");
    ASSERT_TRUE(output.Commit(target, &reason)) << reason;
  }
  EXPECT_EQ(dir.ReadFile("page.html"), "new page");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"page.html"});
}

TEST(PageOutput, DroppedOrUncommittablePageLeavesTheTarget) {
  ScopedTempDir dir;
  const std::string target = dir.WriteFile("page.html", "old page");
  std::string reason;
  {
    // Dropped while open: the temporary file goes at once.
    PageOutput_CL output;
    output.Prepare();
    ASSERT_TRUE(output.CreateTemporary("Tarvix", dir.path(), &reason)) << reason;
    ASSERT_TRUE(output.OpenTemporary(&reason)) << reason;
    output.Write("half a pa");
    output.Discard();
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"page.html"});
  }
  {
    // A commit into a folder that does not exist fails; the temporary file goes with the
    // output.
    PageOutput_CL output;
    output.Prepare();
    ASSERT_TRUE(output.CreateTemporary("Tarvix", dir.path(), &reason)) << reason;
    ASSERT_TRUE(output.OpenTemporary(&reason)) << reason;
    output.Write("page");
    ASSERT_TRUE(output.Close(&reason)) << reason;
    EXPECT_FALSE(output.Commit(dir.PathOf("missing/page.html"), &reason));
  }
  EXPECT_EQ(dir.ReadFile("page.html"), "old page");
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"page.html"});
  // A temporary file in a folder that does not exist cannot be made.
  PageOutput_CL output;
  output.Prepare();
  EXPECT_FALSE(output.CreateTemporary("Tarvix", dir.PathOf("missing"), &reason));
}

}  // namespace
}  // namespace tarvix
