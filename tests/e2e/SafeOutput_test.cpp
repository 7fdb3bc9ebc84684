// Nothing lost, nothing damaged, on POSIX: targets that are devices, pipes or links, the
// page onto its own document, terminating signals, documents past the size limit and runs
// that exhaust their memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The largest document the program reads: a run of it still fits a 32-bit count.
constexpr std::uint64_t kLargestDocument = 0x7FFFFFFF;

// Reads everything from the FIFO at `path` into `bytes` (on a thread of the test).
void ReadFifo(const std::string& path, std::string* bytes) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0)
    return;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0)
      break;
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
}

// A document of about `size` bytes with every kind of block, so converting it takes a while.
std::string LargeDocument(std::size_t size) {
  const std::string piece =
      "# Heading *one*\n\nA paragraph with **strong**, `code` and [a link](http://e.com/).\n\n"
      "- item\n- item with _emphasis_\n\n> quoted\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n";
  std::string document;
  document.reserve(size + piece.size());
  while (document.size() < size)
    document += piece;
  return document;
}

// Starts the program in `folder` with TMPDIR set to `tmp`; the child's output is dropped.
pid_t StartProgram(const std::string& folder, const std::string& tmp,
                   const std::vector<std::string>& arguments) {
  std::vector<std::string> strings{TARVIX_PROGRAM};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  // Everything the child needs is made before fork.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string_view(*e).rfind("TMPDIR=", 0) != 0)
      environment.emplace_back(*e);
  }
  environment.push_back("TMPDIR=" + tmp);
  std::vector<char*> envp;
  for (std::string& e : environment)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(folder.c_str()) != 0)
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return child;
}

// Waits for the child, returning its status as a shell shows it (128 + n for signal n).
int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// True once `folder` holds an entry, false when the child ended first.
bool WaitForEntry(pid_t child, const std::string& folder) {
  for (;;) {
    if (!FolderEntries(folder).empty())
      return true;
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      // Put the status back for WaitFor: the child is gone, report it as never seen.
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

struct stat LinkStatus(const std::string& path) {
  struct stat info {};
  lstat(path.c_str(), &info);
  return info;
}

TEST(SafeOutput, DeviceTargetIsWrittenIntoNotReplaced) {
  // Run as root, "-o /dev/null" replaced the device node with a regular file.
  if (geteuid() != 0)
    GTEST_SKIP() << "only the superuser may make a device node";
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "Hi\n\n");
  const std::string null = dir.PathOf("null");
  ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  for (const auto& arguments : {std::vector<std::string>{"doc.md", "-o", "null"},
                                std::vector<std::string>{"doc.md", "-o", "null", "-ext"}}) {
    const RunResult r = RunProgram(dir.path(), arguments, options);
    EXPECT_EQ(r.status, 0) << arguments.size();
    EXPECT_EQ(r.out + r.err, "") << arguments.size();
    EXPECT_TRUE(S_ISCHR(LinkStatus(null).st_mode)) << arguments.size();
  }
  // With -ext the page is made in a temporary file first, then written into the device.
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "null", "tmp"}));
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
}

TEST(SafeOutput, FifoTargetGetsThePageAndStaysAFifo) {
  // A FIFO named by -o was replaced by a regular file, and its reader got nothing.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "# Title\n\nText\n\n");
  const std::string fifo = dir.PathOf("page.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader(ReadFifo, fifo, &received);
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "page.fifo"}, options);
  reader.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_EQ(received, "<h1 id=\"Title\">Title</h1>\n<p>Text</p>\n");
  EXPECT_TRUE(S_ISFIFO(LinkStatus(fifo).st_mode));
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
}

TEST(SafeOutput, LinkTargetKeepsTheLinkAndReplacesItsFile) {
  // A target that was a symbolic link became a regular file: the link was lost.
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/pages"));
  fs::create_directories(dir.PathOf("out"));
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  dir.WriteFile("doc.md", "New\n\n");
  const std::string file = dir.WriteFile("site/pages/page.html", "old page");
  fs::permissions(file, fs::perms(0640));
  // A link across folders, a relative link to it, and a link naming no file yet.
  fs::create_symlink("../site/pages/page.html", dir.PathOf("out/page.html"));
  fs::create_symlink("page.html", dir.PathOf("out/again.html"));
  fs::create_symlink(dir.PathOf("site/pages/new.html"), dir.PathOf("out/new.html"));

  RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "out/page.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("out/page.html")));
  EXPECT_EQ(dir.ReadFile("site/pages/page.html"), "<p>New</p>\n");
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask, fs::perms(0640));

  dir.WriteFile("doc.md", "Again\n\n");
  r = RunProgram(dir.path(), {"doc.md", "-o", "out/again.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("out/again.html")));
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("out/page.html")));
  EXPECT_EQ(dir.ReadFile("site/pages/page.html"), "<p>Again</p>\n");

  r = RunProgram(dir.path(), {"doc.md", "-o", "out/new.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("out/new.html")));
  EXPECT_EQ(dir.ReadFile("site/pages/new.html"), "<p>Again</p>\n");

  EXPECT_EQ(FolderEntries(dir.PathOf("out")),
            (std::vector<std::string>{"again.html", "new.html", "page.html"}));
  EXPECT_EQ(FolderEntries(dir.PathOf("site/pages")),
            (std::vector<std::string>{"new.html", "page.html"}));
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
}

TEST(SafeOutput, ReplacedFileKeepsOwnerAndGroup) {
  // A page replaced by the superuser became root's, and its group's readers lost it.
  if (geteuid() != 0)
    GTEST_SKIP() << "only the superuser may give a file to another owner";
  ScopedTempDir dir;
  dir.WriteFile("doc.md", "Hi\n\n");
  const std::string page = dir.WriteFile("page.html", "old");
  ASSERT_EQ(chown(page.c_str(), 1234, 5678), 0);
  const RunResult r = RunProgram(dir.path(), {"doc.md", "-o", "page.html"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(dir.ReadFile("page.html"), "<p>Hi</p>\n");
  EXPECT_EQ(LinkStatus(page).st_uid, 1234u);
  EXPECT_EQ(LinkStatus(page).st_gid, 5678u);
}

TEST(SafeOutput, OutputOntoTheInputThroughALinkWritesNothing) {
  // "tarvix a.md -o a.md" overwrote the Markdown source with HTML and exited 0.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("sub"));
  const std::string source = "# Source\n\nText\n";
  dir.WriteFile("a.md", source);
  fs::create_symlink("../a.md", dir.PathOf("sub/link.md"));
  fs::create_hard_link(dir.PathOf("a.md"), dir.PathOf("hard.md"));
  dir.WriteFile("ext.md", "<!--\noutput_ext: .md\n-->\nHi\n");
  const std::vector<std::vector<std::string>> cases = {
      {"a.md", "-o", "sub/link.md"},
      {"sub/link.md", "-o", "a.md"},
      {"a.md", "-o", "hard.md"},
      {"a.md", "-o", "./sub/../a.md"},
      // The extension the document asks for makes the document's own name.
      {"ext.md", "-o", "ext.html", "-ext"},
  };
  for (const auto& arguments : cases) {
    const RunResult r = RunProgram(dir.path(), arguments);
    EXPECT_EQ(r.status, 255) << arguments[2];
    EXPECT_EQ(r.out, "OutputFile is InputFile\n") << arguments[2];
    EXPECT_EQ(r.err, "") << arguments[2];
  }
  EXPECT_EQ(dir.ReadFile("a.md"), source);
  EXPECT_EQ(dir.ReadFile("ext.md"), "<!--\noutput_ext: .md\n-->\nHi\n");
  EXPECT_TRUE(fs::is_symlink(dir.PathOf("sub/link.md")));
  EXPECT_EQ(FolderEntries(dir.path()),
            (std::vector<std::string>{"a.md", "ext.md", "hard.md", "sub"}));
}

TEST(SafeOutput, TerminatingSignalsLeaveNoTemporaryFile) {
  // SIGINT, SIGTERM or SIGHUP during a run left "TarvixXXXXXX" in the temporary folder.
  ScopedTempDir dir;
  dir.WriteFile("doc.md", LargeDocument(96u << 20));
  dir.WriteFile("out.html", "old page");
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    const std::string tmp = dir.PathOf("tmp" + std::to_string(signal));
    fs::create_directory(tmp);
    const pid_t child = StartProgram(dir.path(), tmp, {"doc.md", "-o", "out.html"});
    ASSERT_GT(child, 0);
    // The temporary file is made before the document is read, so the run is under way.
    const bool started = WaitForEntry(child, tmp);
    ASSERT_TRUE(started) << "the run ended before its temporary file was seen";
    kill(child, signal);
    EXPECT_EQ(WaitFor(child), 128 + signal) << signal;
    EXPECT_EQ(FolderEntries(tmp), std::vector<std::string>{}) << signal;
    EXPECT_EQ(dir.ReadFile("out.html"), "old page") << signal;
  }
  // Nothing hidden beside the target either.
  for (const std::string& name : FolderEntries(dir.path()))
    EXPECT_NE(name.rfind(".Tarvix", 0), 0u) << name;
}

TEST(SafeOutput, SignalWhileReadingAPipeLeavesNoTemporaryFile) {
  // The same, certain to be mid-run: the document comes from a FIFO that is held open.
  ScopedTempDir dir;
  const std::string tmp = dir.PathOf("tmp");
  fs::create_directory(tmp);
  const std::string fifo = dir.PathOf("doc.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const pid_t child = StartProgram(dir.path(), tmp, {"doc.fifo", "-o", "out.html"});
  ASSERT_GT(child, 0);
  const int writer = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "Hi\n", 3), 3);
  ASSERT_TRUE(WaitForEntry(child, tmp));
  kill(child, SIGTERM);
  EXPECT_EQ(WaitFor(child), 128 + SIGTERM);
  close(writer);
  EXPECT_EQ(FolderEntries(tmp), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.fifo", "tmp"}));
}

TEST(SafeOutput, InputThatCannotFit) {
  // A 3 GB sparse file or /dev/zero as the input ended in an uncaught bad_alloc and SIGABRT
  // (status 134), leaving a temporary file with -o.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  const std::string huge = dir.PathOf("huge.md");
  {
    const int fd = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kLargestDocument + 1)), 0);
    close(fd);
  }
  fs::create_symlink("/dev/zero", dir.PathOf("zero.md"));
  RunResult r = RunProgram(dir.path(), {"huge.md"}, options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "InputFile too large\n");
  r = RunProgram(dir.path(), {"huge.md", "-o", "out.html"}, options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "InputFile too large\n");
  r = RunProgram(dir.path(), {"zero.md", "-o", "out.html"}, options);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Open Err InputFile\ntarvix: zero.md: Is a device\n");
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"huge.md", "tmp", "zero.md"}));

  // A FIFO is read to its end like a file.
  const std::string fifo = dir.PathOf("doc.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&fifo] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) {
      (void)!write(fd, "From a pipe\n\n", 13);
      close(fd);
    }
  });
  r = RunProgram(dir.path(), {"doc.fifo"}, options);
  writer.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "<p>From a pipe</p>\n");
}

TEST(SafeOutput, MemoryThatRunsOutEndsWithAMessage) {
  // Memory that ran out (a large document, a lowered limit) aborted the program with an
  // uncaught bad_alloc: status 134 and the temporary file left behind.
  if (kAddressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  // 128 MiB of NUL bytes, each of which becomes three bytes of the page: more than the
  // limit holds, while the document itself fits.
  const std::string doc = dir.PathOf("doc.md");
  {
    const int fd = open(doc.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{128} << 20), 0);
    close(fd);
  }
  dir.WriteFile("out.html", "old page");
  RunOptions options;
  options.temporaryFolder = dir.PathOf("tmp");
  options.addressSpaceLimit = std::size_t{224} << 20;
  for (const char* output : {"out.html", ""}) {
    std::vector<std::string> arguments = {"doc.md"};
    if (*output != '\0')
      arguments.insert(arguments.end(), {"-o", output});
    const RunResult r = RunProgram(dir.path(), arguments, options);
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err, "Out of memory\n") << output;
    EXPECT_EQ(r.out, "") << output;
  }
  EXPECT_EQ(dir.ReadFile("out.html"), "old page");
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"doc.md", "out.html", "tmp"}));
}

TEST(SafeOutput, PageOfCubicGrowthIsBuiltInLittleMemory) {
  // Header values full of the placeholders after them make a 64 MB page of a 19 KB
  // document. Filling the placeholders one after the other copied the page whole each
  // time: 1.5 GB at the peak, where the page now streams out within 256 MB of address
  // space.
  if (kAddressSanitizer)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than the limit";
  ScopedTempDir dir;
  std::string title, keywords, description;
  for (int i = 0; i < 400; ++i) {
    title += "####KEYWORDS####";
    keywords += "####DESCRIPTION####";
    description += "####ROOT####";
  }
  dir.WriteFile("bomb.md", "<!--\ntitle: " + title + "\nkeywords: " + keywords +
                               "\ndescription: " + description + "\n-->\n# Hi\n");
  dir.WriteFile("t.html", "<title>####TITLE####</title>\n");
  RunOptions options;
  options.addressSpaceLimit = std::size_t{256} << 20;
  const RunResult r =
      RunProgram(dir.path(), {"bomb.md", "-t", "t.html", "-o", "bomb.html"}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  const std::string page = dir.ReadFile("bomb.html");
  EXPECT_EQ(page.size(), 64000016u);
  EXPECT_EQ(page.find_first_not_of('.', 7), 64000007u);
  EXPECT_EQ(page.substr(0, 8) + page.substr(64000006), "<title>..</title>\n");
}

TEST(SafeOutput, DocumentCutShortWhileConvertedGivesThePageOfWhatIsLeft) {
  // The program is held in the middle of its pass: its standard output is a pipe filled to
  // the brim, so the message of the missing include waits there until the file is cut.
  ScopedTempDir dir;
  fs::create_directory(dir.PathOf("tmp"));
  const std::string hook = "<!-- include: missing.md -->\n";
  const std::string document = hook + LargeDocument(std::size_t{3} << 20);
  const std::size_t kept = document.size() / 3;
  dir.WriteFile("expected.md", document.substr(0, kept));
  ASSERT_EQ(RunProgram(dir.path(), {"expected.md", "-o", "expected.html"}).status, 0);
  const std::string path = dir.WriteFile("doc.md", document);

  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  const std::string filler(4096, '.');
  std::size_t filled = 0;
  for (ssize_t wrote; (wrote = write(pipeEnds[1], filler.data(), filler.size())) > 0;)
    filled += static_cast<std::size_t>(wrote);
  fcntl(pipeEnds[1], F_SETFL, 0);
  std::vector<std::string> strings{TARVIX_PROGRAM, "doc.md", "-o", "out.html"};
  std::vector<char*> argv;
  for (std::string& s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(pipeEnds[1], 1);
    dup2(null, 2);
    close(pipeEnds[0]);
    if (chdir(dir.path().c_str()) != 0)
      _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  // Until the program waits to write into the pipe (bounded, in case it never does).
  bool waiting = false;
  for (int i = 0; i < 60000 && !waiting; ++i) {
    std::ifstream wchan("/proc/" + std::to_string(child) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    waiting = where.find("pipe_write") != std::string::npos;
    if (!waiting)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (waiting)
    fs::resize_file(path, kept);
  std::string said;
  char buffer[65536];
  for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
    said.append(buffer, static_cast<std::size_t>(got));
  close(pipeEnds[0]);
  EXPECT_EQ(WaitFor(child), 0);
  if (!waiting)
    GTEST_SKIP() << "the system does not say where a process waits";
  EXPECT_TRUE(dir.ReadFile("out.html") == dir.ReadFile("expected.html"));
  // The message of the pass that saw the cut, then that of the pass made again.
  const std::string message = "Include File Not Find \"missing.md\"\n";
  const std::string detail = "tarvix: missing.md: No such file or directory\n";
  EXPECT_EQ(said.substr(filled), message + detail + message + detail);
}

}  // namespace
}  // namespace tarvix
