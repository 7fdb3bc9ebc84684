#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// <windows.h> renames ReplaceFile to ReplaceFileW, which would rename the platform's too.
#undef ReplaceFile
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Points TMP, the temporary folder of GetTempPathW, at `folder` for one test.
class ScopedTmp {
 public:
  explicit ScopedTmp(const std::string& folder) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(L"TMP", old, 32768);
    if (length > 0 && length < 32768) {
      old_ = std::wstring(old, length);
    }
    SetEnvironmentVariableW(L"TMP", fs::path(folder).wstring().c_str());
  }
  ~ScopedTmp() { SetEnvironmentVariableW(L"TMP", old_ ? old_->c_str() : nullptr); }

 private:
  std::optional<std::wstring> old_;
};

TEST(PlatformWin32Test, CommandLineIsTheProcessCommandLine) {
  // Whatever main was given is ignored: the arguments come from the command line itself.
  std::vector<std::string> expected = testing::internal::GetArgvs();
  expected.erase(expected.begin());
  char ignored[] = "ignored";
  char* argv[] = {ignored, ignored, nullptr};
  EXPECT_EQ(CommandLineArguments(2, argv), expected);
  EXPECT_TRUE(IsOptionMarker('-'));
  EXPECT_TRUE(IsOptionMarker('/'));
  EXPECT_FALSE(IsOptionMarker('\\'));
}

TEST(PlatformWin32Test, FullPathOnTheCurrentDrive) {
  const std::string current = fs::current_path().string();
  const std::string drive = fs::current_path().root_name().string();
  EXPECT_EQ(FullPath("\\"), drive + "\\");
  EXPECT_EQ(FullPath("a\\b\\..\\.\\c"), current + "\\a\\c");
  // '/' is read as '\'; a trailing separator stays.
  EXPECT_EQ(FullPath("a/b/"), current + "\\a\\b\\");
  EXPECT_EQ(FullPath("C:\\x\\..\\y.html"), "C:\\y.html");
  EXPECT_EQ(FullPath(""), "");
}

TEST(PlatformWin32Test, ReadWholeFileTextAndBinary) {
  ScopedTempDir dir;
  const std::string file = dir.WriteFile("page.html", "a\r\nb\rc\r\n\x1A after");
  std::string bytes = "stale";
  // Text mode, for templates: CR LF becomes LF, and 0x1A ends the file.
  EXPECT_TRUE(ReadWholeFile(file, true, &bytes));
  EXPECT_EQ(bytes, "a\nb\rc\n");
  EXPECT_TRUE(ReadWholeFile(file, false, &bytes));
  EXPECT_EQ(bytes, "a\r\nb\rc\r\n\x1A after");

  bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(dir.path(), false, &bytes));
  EXPECT_EQ(bytes, "");
  bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(dir.PathOf("missing.md"), true, &bytes));
  EXPECT_EQ(bytes, "");

  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(dir.path()));
  EXPECT_FALSE(PathExists(dir.PathOf("missing.md")));
  EXPECT_FALSE(PathExists(""));
}

TEST(PlatformWin32Test, TemporaryFileNameHasThreeLettersOfThePrefix) {
  ScopedTempDir dir;
  ScopedTmp tmp(dir.path());
  std::string first;
  std::string second;
  ASSERT_TRUE(CreateTemporaryFile("Tarvix", &first));
  ASSERT_TRUE(CreateTemporaryFile("Tarvix", &second));
  EXPECT_NE(first, second);
  for (const std::string& name : {first, second}) {
    EXPECT_EQ(name.rfind(dir.path() + "\\", 0), 0u) << name;
    EXPECT_TRUE(std::regex_match(name.substr(dir.path().size() + 1),
                                 std::regex("Tar[0-9a-f]{1,4}\\.tmp", std::regex::icase)))
        << name;
    EXPECT_TRUE(fs::is_regular_file(name)) << name;
    EXPECT_EQ(fs::file_size(name), 0u) << name;
  }

  ScopedTmp missing(dir.PathOf("missing"));
  std::string none = "unchanged";
  EXPECT_FALSE(CreateTemporaryFile("Tarvix", &none));
  EXPECT_EQ(none, "unchanged");
}

TEST(PlatformWin32Test, ReplaceFileLeavesReadOnlyTargets) {
  ScopedTempDir dir;
  const std::string target = dir.WriteFile("page.html", "old");
  const std::string page = dir.WriteFile("new.tmp", "new");
  ASSERT_TRUE(ReplaceFile(page, target));
  EXPECT_EQ(dir.ReadFile("page.html"), "new");
  EXPECT_FALSE(fs::exists(page));

  const std::string readOnly = dir.WriteFile("locked.html", "old");
  const std::string again = dir.WriteFile("again.tmp", "new");
  SetFileAttributesW(fs::path(readOnly).wstring().c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(ReplaceFile(again, readOnly));
  EXPECT_EQ(dir.ReadFile("locked.html"), "old");
  EXPECT_EQ(dir.ReadFile("again.tmp"), "new");
  SetFileAttributesW(fs::path(readOnly).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);

  EXPECT_FALSE(ReplaceFile(again, dir.PathOf("missing\\page.html")));
  EXPECT_TRUE(RemoveFile(again));
  EXPECT_FALSE(RemoveFile(again));
}

TEST(PlatformWin32Test, OutputFileIsWrittenInTextMode) {
  ScopedTempDir dir;
  OutputStream out;
  ASSERT_TRUE(out.OpenFile(dir.PathOf("out.html")));
  EXPECT_TRUE(out.Write("<p>\n"));
  EXPECT_TRUE(out.Write(""));
  EXPECT_TRUE(out.Write("x</p>\n"));
  EXPECT_TRUE(out.Close());
  EXPECT_EQ(dir.ReadFile("out.html"), "<p>\r\nx</p>\r\n");

  OutputStream missing;
  EXPECT_FALSE(missing.OpenFile(dir.PathOf("missing\\out.html")));
}

}  // namespace
}  // namespace tarvix::platform
