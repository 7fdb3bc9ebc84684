// Documents mapped into memory: what is mapped, pages given back and read again, and a
// file that changes or is cut short under its mapping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/Platform.h"
#include "support/ScopedTempDir.h"

namespace tarvix::platform {
namespace {

namespace fs = std::filesystem;

std::size_t PageSize() {
  return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// `pages` pages of bytes that differ from page to page and from place to place.
std::string Pattern(std::size_t pages) {
  std::string bytes(pages * PageSize(), '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>('a' + (i / PageSize() + i * 7) % 26);
  return bytes;
}

// Every byte of the mapping, read through it.
std::string Contents(const MappedFile& file) {
  return std::string(file.data(), file.size());
}

// The memory of the mapping at `address` that is resident now, in kB, from the system's
// account of the process; -1 when it cannot be found.
long ResidentKb(const void* address) {
  std::ifstream maps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  while (std::getline(maps, line)) {
    const std::size_t dash = line.find('-');
    if (dash != std::string::npos && dash > 0 && line.find(' ') > dash &&
        std::isxdigit(static_cast<unsigned char>(line[0]))) {
      inside = std::stoull(line.substr(0, dash), nullptr, 16) ==
               reinterpret_cast<std::uintptr_t>(address);
      continue;
    }
    if (inside && line.rfind("Rss:", 0) == 0)
      return std::stol(line.substr(4));
  }
  return -1;
}

void SetOldTimes(const std::string& path) {
  // Times well in the past, so that a change made now shows in them whatever the
  // granularity of the file system's clock.
  const struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
}

TEST(MappedFile, MapsNonEmptyRegularFilesOnly) {
  ScopedTempDir dir;
  const std::string bytes = "# Title\n\nSome text\n";
  const std::string file = dir.WriteFile("doc.md", bytes);
  fs::create_symlink("doc.md", dir.PathOf("link.md"));
  dir.WriteFile("empty.md", "");
  ASSERT_EQ(mkfifo(dir.PathOf("pipe").c_str(), 0600), 0);
  for (const std::string& path : {file, dir.PathOf("link.md")}) {
    MappedFile mapped;
    ASSERT_TRUE(MapFile(path, &mapped)) << path;
    EXPECT_EQ(Contents(mapped), bytes);
    EXPECT_TRUE(MappingIntact(mapped));
  }
  // A FIFO with no writer is refused at once: opening it would wait for one.
  for (const std::string& path : {dir.PathOf("missing.md"), dir.PathOf("empty.md"), dir.path(),
                                  dir.PathOf("pipe"), std::string("/dev/null")}) {
    MappedFile mapped;
    EXPECT_FALSE(MapFile(path, &mapped)) << path;
    EXPECT_EQ(mapped.data(), nullptr) << path;
    EXPECT_EQ(mapped.size(), 0u) << path;
  }
}

TEST(MappedFile, ReleasedPagesLeaveMemoryAndComeBackFromTheFile) {
  ScopedTempDir dir;
  const std::size_t pages = 64;
  const std::string bytes = Pattern(pages);
  const std::string path = dir.WriteFile("doc.md", bytes);
  MappedFile mapped;
  ASSERT_TRUE(MapFile(path, &mapped));
  ASSERT_EQ(Contents(mapped), bytes);
  const long pageKb = static_cast<long>(PageSize() / 1024);
  const long all = ResidentKb(mapped.data());
  ASSERT_EQ(all, static_cast<long>(pages) * pageKb);
  // Only whole pages before the offset go: the page it falls in stays.
  ReleaseMapped(mapped, 40 * PageSize() + 100);
  EXPECT_EQ(ResidentKb(mapped.data()), 24 * pageKb);
  EXPECT_EQ(Contents(mapped), bytes);
  EXPECT_EQ(ResidentKb(mapped.data()), all);
  // Past the end, the whole mapping goes, and comes back the same.
  ReleaseMapped(mapped, bytes.size() + 12345);
  EXPECT_EQ(ResidentKb(mapped.data()), 0);
  EXPECT_EQ(Contents(mapped), bytes);
  ReleaseMapped(mapped, 0);
  EXPECT_EQ(ResidentKb(mapped.data()), all);
  EXPECT_TRUE(MappingIntact(mapped));
}

TEST(MappedFile, FileCutShortUnderTheMappingReadsZerosAndIsNoLongerIntact) {
  ScopedTempDir dir;
  const std::string bytes = Pattern(16);
  const std::string path = dir.WriteFile("doc.md", bytes);
  const std::string otherPath = dir.WriteFile("other.md", bytes);
  MappedFile mapped;
  MappedFile other;
  ASSERT_TRUE(MapFile(path, &mapped));
  ASSERT_TRUE(MapFile(otherPath, &other));
  EXPECT_EQ(mapped.data()[5], bytes[5]);
  const std::size_t kept = 3 * PageSize() + 10;
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kept)), 0);
  // Every page past the new end would raise a bus error; the guard answers each with
  // zeros, and the process goes on.
  const std::string seen = Contents(mapped);
  EXPECT_EQ(seen.substr(0, kept), bytes.substr(0, kept));
  EXPECT_EQ(seen.substr(kept), std::string(bytes.size() - kept, '\0'));
  EXPECT_FALSE(MappingIntact(mapped));
  // Pages given back and read again fault the same way.
  ReleaseMapped(mapped, bytes.size());
  EXPECT_EQ(Contents(mapped), seen);
  // What the file holds now can be read through the mapping's file.
  std::string now;
  ASSERT_TRUE(ReadMappedFile(mapped, &now));
  EXPECT_EQ(now, bytes.substr(0, kept));
  // The damage is that mapping's alone.
  EXPECT_EQ(Contents(other), bytes);
  EXPECT_TRUE(MappingIntact(other));
}

TEST(MappedFile, ChangedFileIsNoLongerIntactAndIsReadAsItIsNow) {
  ScopedTempDir dir;
  const std::string bytes = Pattern(4);
  const std::string path = dir.WriteFile("doc.md", bytes);
  SetOldTimes(path);
  {
    // One byte rewritten in place: the same size.
    MappedFile mapped;
    ASSERT_TRUE(MapFile(path, &mapped));
    EXPECT_TRUE(MappingIntact(mapped));
    {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(100);
      file.put('#');
    }
    EXPECT_FALSE(MappingIntact(mapped));
    std::string now;
    ASSERT_TRUE(ReadMappedFile(mapped, &now));
    std::string expected = bytes;
    expected[100] = '#';
    EXPECT_EQ(now, expected);
  }
  SetOldTimes(path);
  {
    // Bytes added at the end.
    MappedFile mapped;
    ASSERT_TRUE(MapFile(path, &mapped));
    std::ofstream(path, std::ios::app | std::ios::binary) << "more";
    EXPECT_FALSE(MappingIntact(mapped));
    std::string now;
    ASSERT_TRUE(ReadMappedFile(mapped, &now));
    EXPECT_EQ(now.size(), bytes.size() + 4);
    EXPECT_EQ(now.substr(bytes.size()), "more");
  }
  {
    // Another file renamed onto the name: the mapped file is read, not the one the name
    // names by now.
    MappedFile mapped;
    ASSERT_TRUE(MapFile(path, &mapped));
    const std::string before = Contents(mapped);
    dir.WriteFile("new.md", "new\n");
    fs::rename(dir.PathOf("new.md"), path);
    EXPECT_EQ(Contents(mapped), before);
    std::string now;
    ASSERT_TRUE(ReadMappedFile(mapped, &now));
    EXPECT_EQ(now, before);
  }
}

// The exit status of a child process that ran `body` and then exited with 7.
template <typename Body>
int StatusOfChild(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(7);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child)
    return -1;
  return status;
}

TEST(MappedFile, BusErrorsOutsideMappingsStillEndTheProcess) {
  ScopedTempDir dir;
  const std::string bytes = Pattern(8);
  const std::string mappedPath = dir.WriteFile("doc.md", bytes);
  const std::string loosePath = dir.WriteFile("loose.md", bytes);
  MappedFile mapped;
  ASSERT_TRUE(MapFile(mappedPath, &mapped));
  // A bus error sent to the process, and one raised by a mapping made elsewhere: the guard
  // must not swallow either. (Under a sanitizer its own handler ends the child instead of
  // the signal.)
  const int sent = StatusOfChild([] { raise(SIGBUS); });
  const int fd = open(loosePath.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* loose = mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(loose, MAP_FAILED);
  const int faulted = StatusOfChild([&] {
    if (truncate(loosePath.c_str(), 0) != 0)
      _exit(8);
    volatile const char* p = static_cast<const char*>(loose);
    (void)p[PageSize() * 2];
  });
  munmap(loose, bytes.size());
  for (const int status : {sent, faulted}) {
    ASSERT_NE(status, -1);
    EXPECT_FALSE(WIFEXITED(status) && (WEXITSTATUS(status) == 7 || WEXITSTATUS(status) == 0))
        << status;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), SIGBUS);
    }
  }
  // The parent's own mapping is still guarded.
  EXPECT_EQ(Contents(mapped), bytes);
}

}  // namespace
}  // namespace tarvix::platform
