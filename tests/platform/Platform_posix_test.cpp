#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "platform/Platform.h"
#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Points TMPDIR at `folder` for one test and puts the old value back afterwards.
class ScopedTmpdir {
 public:
  explicit ScopedTmpdir(const std::string& folder) {
    if (const char* old = std::getenv("TMPDIR")) {
      old_ = old;
    }
    setenv("TMPDIR", folder.c_str(), 1);
  }
  ~ScopedTmpdir() {
    if (old_) {
      setenv("TMPDIR", old_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }

 private:
  std::optional<std::string> old_;
};

fs::perms PermissionsOf(const std::string& path) {
  return fs::status(path).permissions();
}

// A finished page in a temporary file of `folder`, as the converter leaves it.
std::string MakePage(const std::string& folder, std::string_view bytes) {
  ScopedTmpdir tmpdir(folder);
  std::string path;
  EXPECT_TRUE(CreateTemporaryFile("page", &path));
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(PlatformPosixTest, CommandLineKeepsAbsolutePathsAsArguments) {
  char program[] = "tarvix";
  char option[] = "-o";
  char input[] = "/home/a/doc.md";
  char* argv[] = {program, option, input, nullptr};
  EXPECT_EQ(CommandLineArguments(3, argv), (std::vector<std::string>{"-o", "/home/a/doc.md"}));
  EXPECT_TRUE(IsOptionMarker('-'));
  EXPECT_FALSE(IsOptionMarker('/'));
}

TEST(PlatformPosixTest, FullPathIsLexical) {
  EXPECT_EQ(FullPath("/a/./b//c/../d"), "/a/b/d");
  EXPECT_EQ(FullPath("/a/b/../"), "/a/");
  EXPECT_EQ(FullPath("/a/b/.."), "/a");
  EXPECT_EQ(FullPath("/../.."), "/");
  EXPECT_EQ(FullPath("//"), "/");
  EXPECT_EQ(FullPath("/"), "/");
  const std::string current = fs::current_path().string();
  EXPECT_EQ(FullPath(""), current);
  EXPECT_EQ(FullPath("."), current);
  EXPECT_EQ(FullPath("x/y/"), current + "/x/y/");

  // A link is kept by name, not replaced by its destination.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("real"));
  fs::create_directory_symlink(dir.PathOf("real"), dir.PathOf("link"));
  EXPECT_EQ(FullPath(dir.PathOf("link/./page.html")), dir.PathOf("link/page.html"));
}

TEST(PlatformPosixTest, ReadWholeFile) {
  ScopedTempDir dir;
  const std::string file = dir.WriteFile("in.md", "a\r\nb\0c"s);
  std::string bytes = "stale";
  EXPECT_TRUE(ReadWholeFile(file, true, &bytes));
  EXPECT_EQ(bytes, "a\r\nb\0c"s);
  EXPECT_TRUE(ReadWholeFile(dir.WriteFile("empty.md", ""), false, &bytes));
  EXPECT_EQ(bytes, "");

  bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(dir.path(), false, &bytes));
  EXPECT_EQ(bytes, "");
  bytes = "stale";
  EXPECT_FALSE(ReadWholeFile(dir.PathOf("missing.md"), false, &bytes));
  EXPECT_EQ(bytes, "");

  EXPECT_TRUE(PathExists(file));
  EXPECT_TRUE(PathExists(dir.path()));
  EXPECT_FALSE(PathExists(dir.PathOf("missing.md")));
}

TEST(PlatformPosixTest, CreateTemporaryFileUsesTmpdirAndPrefix) {
  ScopedTempDir dir;
  ScopedTmpdir tmpdir(dir.path() + "/");
  std::string first;
  std::string second;
  ASSERT_TRUE(CreateTemporaryFile("tarvix-", &first));
  ASSERT_TRUE(CreateTemporaryFile("tarvix-", &second));
  EXPECT_EQ(first.rfind(dir.path() + "/tarvix-", 0), 0u) << first;
  EXPECT_EQ(first.size(), dir.path().size() + 1 + 7 + 6) << first;
  EXPECT_NE(first, second);
  EXPECT_TRUE(fs::is_regular_file(first));
  EXPECT_EQ(fs::file_size(first), 0u);
}

TEST(PlatformPosixTest, ReplaceFileKeepsModeOfReplacedPage) {
  ScopedTempDir dir;
  const std::string target = dir.WriteFile("page.html", "old");
  fs::permissions(target, fs::perms(0640));
  const std::string page = MakePage(dir.path(), "new");
  ASSERT_TRUE(ReplaceFile(page, target));
  EXPECT_EQ(dir.ReadFile(target), "new");
  EXPECT_EQ(PermissionsOf(target), fs::perms(0640));
  EXPECT_FALSE(fs::exists(page));
}

TEST(PlatformPosixTest, ReplaceFileGivesNewPageDefaultMode) {
  ScopedTempDir dir;
  // A file made the ordinary way shows what the umask allows.
  const fs::perms expected = PermissionsOf(dir.WriteFile("plain.html", ""));
  const std::string target = dir.PathOf("page.html");
  ASSERT_TRUE(ReplaceFile(MakePage(dir.path(), "new"), target));
  EXPECT_EQ(dir.ReadFile(target), "new");
  EXPECT_EQ(PermissionsOf(target), expected);
}

TEST(PlatformPosixTest, ReplaceFileRefusesAndLeavesTarget) {
  ScopedTempDir dir;
  // Tests run as root too, which may rename over a read-only file.
  const std::string readOnly = dir.WriteFile("locked.html", "old");
  fs::permissions(readOnly, fs::perms(0444));
  const std::string page = MakePage(dir.path(), "new");
  EXPECT_FALSE(ReplaceFile(page, readOnly));
  EXPECT_EQ(dir.ReadFile(readOnly), "old");
  EXPECT_EQ(PermissionsOf(readOnly), fs::perms(0444));

  EXPECT_FALSE(ReplaceFile(page, dir.PathOf("missing/page.html")));
  EXPECT_FALSE(fs::exists(dir.PathOf("missing")));
  EXPECT_TRUE(RemoveFile(page));
  EXPECT_FALSE(RemoveFile(page));
}

TEST(PlatformPosixTest, ReplaceFileCopiesAcrossFileSystems) {
  ScopedTempDir dir;
  const std::string target = dir.WriteFile("page.html", "old");
  fs::permissions(target, fs::perms(0604));
  const std::string other = "/dev/shm";
  if (!fs::is_directory(other)) {
    GTEST_SKIP() << "no /dev/shm here";
  }
  std::error_code error;
  const std::string probe = MakePage(other, "");
  fs::create_hard_link(probe, dir.PathOf("probe"), error);
  RemoveFile(probe);
  if (error != std::errc::cross_device_link) {
    GTEST_SKIP() << "/dev/shm is not a separate file system here";
  }
  const std::string page = MakePage(other, "new");
  ASSERT_TRUE(ReplaceFile(page, target));
  EXPECT_EQ(dir.ReadFile(target), "new");
  EXPECT_EQ(PermissionsOf(target), fs::perms(0604));
  EXPECT_FALSE(fs::exists(page));
  // The copy made next to the target is gone: the folder holds the page only.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(PlatformPosixTest, OutputStreamReportsFailures) {
  ScopedTempDir dir;
  {
    OutputStream out;
    ASSERT_TRUE(out.OpenFile(dir.PathOf("out.html")));
    EXPECT_TRUE(out.Write("<p>"));
    EXPECT_TRUE(out.Write(""));
    EXPECT_TRUE(out.Write("x</p>\n"));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(dir.ReadFile("out.html"), "<p>x</p>\n");
  }
  {
    OutputStream out;
    ASSERT_TRUE(out.OpenFile("/dev/full"));
    out.Write("<p>x</p>\n");
    EXPECT_FALSE(out.Close());
  }
  {
    OutputStream out;
    ASSERT_TRUE(out.OpenFile("/dev/full"));
    EXPECT_FALSE(out.Write(std::string(1 << 20, 'x')));
    EXPECT_FALSE(out.Write("more"));
    EXPECT_FALSE(out.Close());
  }
  OutputStream out;
  EXPECT_FALSE(out.OpenFile(dir.PathOf("missing/out.html")));
}

// Runs `body` with descriptor 1 pointing at `path` (closed when `path` is empty), so the
// page can go to a standard output that fails.
template <typename Body>
void WithStandardOutput(const char* path, Body body) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  if (*path != '\0') {
    const int fd = open(path, O_WRONLY);
    dup2(fd, STDOUT_FILENO);
    close(fd);
  } else {
    close(STDOUT_FILENO);
  }
  body();
  std::fflush(stdout);
  std::clearerr(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

TEST(PlatformPosixTest, OutputStreamReportsFailingStandardOutput) {
  bool written = true;
  bool closed = true;
  WithStandardOutput("/dev/full", [&] {
    OutputStream out;
    out.OpenStandardOutput();
    written = out.Write("<p>x</p>\n");
    closed = out.Close();
  });
  EXPECT_TRUE(written);  // only buffered so far
  EXPECT_FALSE(closed);

  WithStandardOutput("", [&] {
    OutputStream out;
    out.OpenStandardOutput();
    written = out.Write("<p>x</p>\n");
    closed = out.Close();
  });
  EXPECT_FALSE(written);
  EXPECT_FALSE(closed);
}

TEST(PlatformPosixTest, StatusOfTellsKindsAndIdentity) {
  ScopedTempDir dir;
  const std::string file = dir.WriteFile("a.md", "abc");
  fs::create_symlink("a.md", dir.PathOf("link.md"));
  ASSERT_EQ(mkfifo(dir.PathOf("pipe").c_str(), 0600), 0);
  FileStatus a;
  FileStatus link;
  ASSERT_TRUE(StatusOf(file, &a));
  ASSERT_TRUE(StatusOf(dir.PathOf("link.md"), &link));
  EXPECT_EQ(a.kind, FileKind::Regular);
  EXPECT_EQ(a.size, 3u);
  EXPECT_EQ(link.device, a.device);
  EXPECT_EQ(link.inode, a.inode);
  FileStatus other;
  ASSERT_TRUE(StatusOf(dir.path(), &other));
  EXPECT_EQ(other.kind, FileKind::Folder);
  ASSERT_TRUE(StatusOf(dir.PathOf("pipe"), &other));
  EXPECT_EQ(other.kind, FileKind::Pipe);
  ASSERT_TRUE(StatusOf("/dev/null", &other));
  EXPECT_EQ(other.kind, FileKind::Device);
  std::string reason;
  EXPECT_FALSE(StatusOf(dir.PathOf("missing"), &other, &reason));
  EXPECT_EQ(reason, "No such file or directory");
  EXPECT_FALSE(StatusOf(file + "/x", &other, &reason));
  EXPECT_EQ(reason, "Not a directory");
}

TEST(PlatformPosixTest, ReplaceFileFollowsLinksAndSaysWhyItFails) {
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("real"));
  dir.WriteFile("real/page.html", "old");
  // A chain of two links, the first relative, across folders.
  fs::create_symlink("real/page.html", dir.PathOf("first"));
  fs::create_symlink(dir.PathOf("first"), dir.PathOf("second"));
  ASSERT_TRUE(ReplaceFile(MakePage(dir.path(), "new"), dir.PathOf("second")));
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("second")));
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("first")));
  EXPECT_EQ(dir.ReadFile("real/page.html"), "new");

  // Links that name each other name no file.
  fs::create_symlink("loop-b", dir.PathOf("loop-a"));
  fs::create_symlink("loop-a", dir.PathOf("loop-b"));
  const std::string page = MakePage(dir.path(), "new");
  std::string reason;
  EXPECT_FALSE(ReplaceFile(page, dir.PathOf("loop-a"), &reason));
  EXPECT_EQ(reason, "Too many levels of symbolic links");
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("loop-a")));
  EXPECT_FALSE(ReplaceFile(page, dir.PathOf("real"), &reason));
  EXPECT_EQ(reason, "Is a directory");
  EXPECT_TRUE(RemoveFile(page));
}

TEST(PlatformPosixTest, TerminatingSignalRemovesRegisteredFiles) {
  ScopedTempDir dir;
  const std::string kept = dir.WriteFile("kept", "");
  const std::string first = dir.WriteFile("first", "");
  const std::string second = dir.WriteFile("second", "");
  const std::string released = dir.WriteFile("released", "");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstallSignalCleanup();
    const int a = RegisterCleanupFile(first);
    const int b = RegisterCleanupFile(second);
    const int c = RegisterCleanupFile(released);
    UnregisterCleanupFile(c);
    if (a < 0 || b < 0 || a == b)
      _exit(3);
    raise(SIGTERM);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  // The process ends as the signal ends it, with the registered files gone.
  ASSERT_TRUE(WIFSIGNALED(status)) << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
  EXPECT_TRUE(fs::exists(kept));
  EXPECT_TRUE(fs::exists(released));
  // Paths the table cannot hold are refused rather than cut short.
  EXPECT_EQ(RegisterCleanupFile(std::string(5000, 'x')), -1);
  EXPECT_EQ(RegisterCleanupFile(""), -1);
}

TEST(PlatformPosix, ReadFileBelowFollowsOnlyLinksThatStayBelow) {
  // The base folder's rule was a look at the resolved path, then an open by name: a link
  // swapped in between led out. Here each way is walked from the opened folder.
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("base/sub/deep"));
  dir.WriteFile("outside.txt", "OUT");
  dir.WriteFile("base/a.txt", "A");
  dir.WriteFile("base/sub/b.txt", "B");
  fs::create_symlink("sub/b.txt", dir.PathOf("base/rel"));
  fs::create_symlink("../b.txt", dir.PathOf("base/sub/deep/up"));
  fs::create_symlink("sub", dir.PathOf("base/folderlink"));
  fs::create_symlink("../outside.txt", dir.PathOf("base/climb"));
  fs::create_symlink(dir.PathOf("base/a.txt"), dir.PathOf("base/absolute"));
  fs::create_symlink("../../outside.txt", dir.PathOf("base/sub/climb2"));
  fs::create_symlink("loop", dir.PathOf("base/loop"));
  fs::create_symlink("sub/nothing", dir.PathOf("base/dangling"));
  ASSERT_EQ(mkfifo(dir.PathOf("base/fifo").c_str(), 0600), 0);
  const struct {
    const char* relative;
    BelowRead result;
    const char* bytes;   // when read
    const char* reason;  // when it failed
    FileKind kind;       // when no regular file
  } cases[] = {
      {"a.txt", BelowRead::kRead, "A", "", FileKind::Other},
      {"./sub/../a.txt", BelowRead::kRead, "A", "", FileKind::Other},
      {"rel", BelowRead::kRead, "B", "", FileKind::Other},
      {"sub/deep/up", BelowRead::kRead, "B", "", FileKind::Other},
      {"folderlink/b.txt", BelowRead::kRead, "B", "", FileKind::Other},
      {"../outside.txt", BelowRead::kOutside, "", "", FileKind::Other},
      {"sub/../../outside.txt", BelowRead::kOutside, "", "", FileKind::Other},
      {"climb", BelowRead::kOutside, "", "", FileKind::Other},
      {"sub/climb2", BelowRead::kOutside, "", "", FileKind::Other},
      // An absolute link is refused even where it names a file below: what it names
      // depends on folders above the base.
      {"absolute", BelowRead::kOutside, "", "", FileKind::Other},
      {"missing.txt", BelowRead::kFailed, "", "No such file or directory", FileKind::Other},
      {"dangling", BelowRead::kFailed, "", "No such file or directory", FileKind::Other},
      {"a.txt/x", BelowRead::kFailed, "", "Not a directory", FileKind::Other},
      {"loop", BelowRead::kFailed, "", "Too many levels of symbolic links", FileKind::Other},
      {"sub", BelowRead::kNotRegular, "", "", FileKind::Folder},
      {"sub/..", BelowRead::kNotRegular, "", "", FileKind::Folder},
      {"fifo", BelowRead::kNotRegular, "", "", FileKind::Pipe},
  };
  for (const auto& c : cases) {
    std::string bytes = "stale";
    std::string reason;
    FileKind kind = FileKind::Other;
    EXPECT_EQ(ReadFileBelow(dir.PathOf("base"), c.relative, true, &bytes, &kind, &reason), c.result)
        << c.relative;
    EXPECT_EQ(bytes, c.bytes) << c.relative;
    if (c.result == BelowRead::kFailed)
      EXPECT_EQ(reason, c.reason) << c.relative;
    if (c.result == BelowRead::kNotRegular)
      EXPECT_EQ(kind, c.kind) << c.relative;
  }
}

}  // namespace
}  // namespace tarvix::platform

#endif  // _WIN32
