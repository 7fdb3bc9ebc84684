// The preview as the program runs it, against hostile clients on the loopback address:
// names that lead here from elsewhere, thousands of slow connections and event streams, a
// process out of descriptors, and a closed terminal.
#ifndef _WIN32

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
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
using Clock = std::chrono::steady_clock;

// The decimal number `text` begins with; 0 when none.
int Number(std::string_view text) {
  int n = 0;
  (void)std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

// A preview started in the background, stopped by SIGINT at the end of the test at the
// latest.
class RunningPreview {
 public:
  // Starts the program in `folder` with `arguments`; `descriptors` > 0 lowers its limit on
  // open files; TMPDIR is `temporary` when given.
  RunningPreview(const ScopedTempDir& dir, const std::vector<std::string>& arguments,
                 rlim_t descriptors = 0, const std::string& temporary = std::string())
      : out_(dir.PathOf("preview.out")) {
    std::vector<std::string> strings{TARVIX_PROGRAM};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
      argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string folder = dir.path();
    const std::string err = dir.PathOf("preview.err");
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_RDONLY);
      const int outFd = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(null, 0);
      dup2(outFd, 1);
      dup2(errFd, 2);
      if (chdir(folder.c_str()) != 0)
        _exit(126);
      if (!temporary.empty())
        setenv("TMPDIR", temporary.c_str(), 1);
      if (descriptors > 0) {
        const rlimit limit{descriptors, descriptors};
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
          _exit(124);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~RunningPreview() {
    if (status_ < 0)
      (void)Stop(SIGINT);
  }

  // The port once the program says it serves; 0 when it ended first or a minute passed.
  int Port() {
    const auto end = Clock::now() + std::chrono::minutes(1);
    constexpr std::string_view kAt = " at http://127.0.0.1:";
    while (Clock::now() < end) {
      const std::string text = FileBytes(out_);
      const std::size_t at = text.find(kAt);
      if (at != std::string::npos && text.find('/', at + kAt.size()) != std::string::npos)
        return Number(text.substr(at + kAt.size()));
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid == pid_)
        return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return 0;
  }
  // Seconds of processor time the program has used so far.
  [[nodiscard]] double ProcessorSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
      return -1;
    std::vector<std::string> fields;
    std::size_t from = close + 2;
    while (from < text.size()) {
      const std::size_t end = text.find(' ', from);
      fields.push_back(text.substr(from, end - from));
      if (end == std::string::npos)
        break;
      from = end + 1;
    }
    // utime and stime are the 14th and 15th fields, the 12th and 13th after the name.
    if (fields.size() < 13)
      return -1;
    return static_cast<double>(Number(fields[11]) + Number(fields[12])) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  // Sends `signal` and waits for the end: the status as a shell shows it.
  int Stop(int signal) {
    kill(pid_, signal);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    return status_;
  }

 private:
  std::string out_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// A connection to the loopback address; -1 when it cannot be made.
int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendText(int fd, std::string_view text) {
  return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// What arrives on `fd` until it closes or `wait` passes.
std::string ReadFor(int fd, std::chrono::milliseconds wait) {
  std::string text;
  const auto end = Clock::now() + wait;
  char buffer[4096];
  for (auto now = Clock::now(); now < end; now = Clock::now()) {
    pollfd one{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
    if (poll(&one, 1, static_cast<int>(left.count()) + 1) <= 0)
      continue;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0)
      break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

// One request on a connection of its own, and the status line of the answer; empty when
// none came within `wait`.
std::string Ask(int port, const std::string& host, std::chrono::milliseconds wait,
                std::string* body = nullptr) {
  const int fd = Connect(port);
  if (fd < 0)
    return {};
  std::string response;
  if (SendText(fd, "GET /index.html HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n"))
    response = ReadFor(fd, wait);
  close(fd);
  if (body != nullptr)
    *body = response;
  return response.substr(0, response.find("\r\n"));
}

// Raises this process's limit on open files to at least `wanted`; false where the hard
// limit is lower.
bool AllowDescriptors(rlim_t wanted) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_max < wanted)
    return false;
  if (limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    return setrlimit(RLIMIT_NOFILE, &limit) == 0;
  }
  return true;
}

void CloseAll(std::vector<int>& fds) {
  for (const int fd : fds)
    close(fd);
  fds.clear();
}

class PreviewHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir.PathOf("site"));
    dir.WriteFile("site/index.md", "# Home\n");
    fs::create_directories(dir.PathOf("tmp"));
  }
  ScopedTempDir dir;
};

TEST_F(PreviewHostile, AnswersOnlyItsOwnHostNames) {
  // Any Host was answered: a page whose name was made to lead to 127.0.0.1 read it all.
  RunningPreview preview(
      dir, {"site", "-serve", "-port", "0", "-host", "my.box", "-host", "Other.Name"});
  const int port = preview.Port();
  ASSERT_NE(port, 0);
  const std::string at = ":" + std::to_string(port);
  const struct {
    std::string host;
    const char* status;
  } cases[] = {
      {"localhost" + at, "HTTP/1.1 200 OK"},
      {"127.0.0.1" + at, "HTTP/1.1 200 OK"},
      {"my.box" + at, "HTTP/1.1 200 OK"},
      {"other.name", "HTTP/1.1 200 OK"},
      {"attacker.example" + at, "HTTP/1.1 403 Forbidden"},
      {"my.box.attacker.example", "HTTP/1.1 403 Forbidden"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Ask(port, c.host, std::chrono::seconds(10)), c.status) << c.host;
  std::string body;
  (void)Ask(port, "attacker.example", std::chrono::seconds(10), &body);
  EXPECT_NE(body.find("-host"), std::string::npos);
  EXPECT_EQ(body.find("Home"), std::string::npos);
  EXPECT_EQ(preview.Stop(SIGINT), 0);
}

// How often `needle` occurs in `text`.
std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++n;
  return n;
}

// Waits until the preview's standard error holds `runs` summary lines; false after a minute.
bool WaitForRuns(const ScopedTempDir& dir, std::size_t runs) {
  const auto end = Clock::now() + std::chrono::minutes(1);
  while (Clock::now() < end) {
    if (Occurrences(FileBytes(dir.PathOf("preview.err")), " failed in ") >= runs)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST_F(PreviewHostile, RerunSaysOnlyTheBrokenLinksThatChanged) {
  // Every save printed the whole list of broken links again, burying the one it changed.
  dir.WriteFile("site/index.md", "[a](a.html) [b](b.html)\n");
  RunningPreview preview(dir, {"site", "-serve", "-port", "0"});
  ASSERT_NE(preview.Port(), 0);
  ASSERT_TRUE(WaitForRuns(dir, 1));
  dir.WriteFile("site/a.md", "# A\n");
  dir.WriteFile("site/index.md", "[a](a.html) [c](c.html)\n");
  ASSERT_TRUE(WaitForRuns(dir, 2)) << FileBytes(dir.PathOf("preview.err"));
  // The rerun of the changed page may come in one run or two: either way each line once.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(preview.Stop(SIGINT), 0);
  const std::string err = FileBytes(dir.PathOf("preview.err"));
  const std::string index = "site/index.md: broken link ";
  EXPECT_EQ(Occurrences(err, index + "\"a.html\" (no such file)\n"), 2u) << err;
  EXPECT_EQ(Occurrences(err, "fixed: " + index + "\"a.html\" (no such file)\n"), 1u) << err;
  EXPECT_EQ(Occurrences(err, "fixed: " + index + "\"b.html\" (no such file)\n"), 1u) << err;
  EXPECT_EQ(Occurrences(err, index + "\"c.html\" (no such file)\n"), 1u) << err;
}

TEST_F(PreviewHostile, OutputInsideTheInputIsNotWalked) {
  RunningPreview preview(dir, {"site", "-serve", "-port", "0", "-o", "site/_site"});
  ASSERT_NE(preview.Port(), 0);
  ASSERT_TRUE(WaitForRuns(dir, 1));
  dir.WriteFile("site/more.md", "# More\n");
  ASSERT_TRUE(WaitForRuns(dir, 2)) << FileBytes(dir.PathOf("preview.err"));
  EXPECT_EQ(preview.Stop(SIGINT), 0);
  EXPECT_TRUE(fs::exists(dir.PathOf("site/_site/more.html")));
  EXPECT_FALSE(fs::exists(dir.PathOf("site/_site/_site")));
  EXPECT_EQ(Occurrences(FileBytes(dir.PathOf("preview.err")), "0 failed"), 2u)
      << FileBytes(dir.PathOf("preview.err"));
}

// The watch began only after the first run: a document saved while that run worked (or
// just after its summary) stayed stale in the preview until the next save.
TEST_F(PreviewHostile, EditDuringTheFirstRunIsShown) {
  constexpr int kDocuments = 400;
  for (int i = 0; i < kDocuments; ++i)
    dir.WriteFile("site/d" + std::to_string(i) + ".md", "# Old " + std::to_string(i) + "\n");
  RunningPreview preview(dir, {"site", "-serve", "-port", "0", "-o", "out", "-j", "1"});
  // The first page written: its document is edited while the run goes on with the others.
  std::string edited;
  const auto end = Clock::now() + std::chrono::minutes(1);
  while (edited.empty() && Clock::now() < end) {
    for (int i = 0; i < kDocuments && edited.empty(); ++i) {
      if (fs::exists(dir.PathOf("out/d" + std::to_string(i) + ".html")))
        edited = "d" + std::to_string(i);
    }
  }
  ASSERT_FALSE(edited.empty());
  dir.WriteFile("site/" + edited + ".md", "# New\n");
  ASSERT_NE(preview.Port(), 0);
  ASSERT_TRUE(WaitForRuns(dir, 2)) << FileBytes(dir.PathOf("preview.err"));
  EXPECT_EQ(preview.Stop(SIGINT), 0);
  const std::string page = FileBytes(dir.PathOf("out/" + edited + ".html"));
  EXPECT_NE(page.find("New"), std::string::npos) << page;
}

// An edited page is told to the open pages as soon as it is written, and once; so is each
// page the run writes again after a title changed (its navigation).
TEST_F(PreviewHostile, EditedPageIsToldAsItIsWrittenAndOnce) {
  dir.WriteFile("site/page.html", "<title>####TITLE####</title>####NAV####\n####BODY####\n");
  const auto document = [](const std::string& text) {
    return "<!--\ntemplate: page.html\n-->\n" + text;
  };
  for (int i = 0; i < 30; ++i)
    dir.WriteFile("site/d" + std::to_string(i) + ".md", document("# Page " + std::to_string(i)));
  RunningPreview preview(dir, {"site", "-serve", "-port", "0", "-o", "out"});
  const int port = preview.Port();
  ASSERT_NE(port, 0);
  ASSERT_TRUE(WaitForRuns(dir, 1));
  const int stream = Connect(port);
  ASSERT_TRUE(SendText(stream, "GET /.tarvix/events HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  ASSERT_NE(ReadFor(stream, std::chrono::milliseconds(300)).find("retry:"), std::string::npos);

  dir.WriteFile("site/d3.md", document("# Page 3\n\nNew text.\n"));
  ASSERT_TRUE(WaitForRuns(dir, 2)) << FileBytes(dir.PathOf("preview.err"));
  std::string events = ReadFor(stream, std::chrono::milliseconds(500));
  EXPECT_EQ(Occurrences(events, "data: /d3.html\n"), 1u) << events;

  dir.WriteFile("site/d3.md", document("# Retitled\n"));
  ASSERT_TRUE(WaitForRuns(dir, 3)) << FileBytes(dir.PathOf("preview.err"));
  // Every page's navigation written again: the first told as they come, the rest at the end,
  // each once.
  events = ReadFor(stream, std::chrono::milliseconds(500));
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(Occurrences(events, "data: /d" + std::to_string(i) + ".html\n"), 1u) << i << "\n"
                                                                                   << events;
  }
  EXPECT_NE(FileBytes(dir.PathOf("out/d7.html")).find("Retitled"), std::string::npos);
  close(stream);
  EXPECT_EQ(preview.Stop(SIGINT), 0);
}

TEST_F(PreviewHostile, HangupStopsAndRemovesTheTemporaryFolder) {
  // Closing the terminal ended the preview by the signal (129) and left its folder.
  RunningPreview preview(dir, {"site", "-serve", "-port", "0"}, 0, dir.PathOf("tmp"));
  ASSERT_NE(preview.Port(), 0);
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")).size(), 1u);
  EXPECT_EQ(preview.Stop(SIGHUP), 0);
  EXPECT_EQ(FolderEntries(dir.PathOf("tmp")), std::vector<std::string>{});
}

TEST_F(PreviewHostile, OutOfDescriptorsItWaitsAndServesAgain) {
  // With 256 descriptors and 300 idle connections the accept tried again at once without
  // end (7.5 s of processor time in 10 s) and new clients timed out.
  ASSERT_TRUE(AllowDescriptors(1024));
  RunningPreview preview(dir, {"site", "-serve", "-port", "0"}, 256);
  const int port = preview.Port();
  ASSERT_NE(port, 0);
  std::vector<int> idle;
  for (int i = 0; i < 300; ++i) {
    const int fd = Connect(port);
    if (fd >= 0)
      idle.push_back(fd);
  }
  const double before = preview.ProcessorSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double held = preview.ProcessorSeconds() - before;
  int answered = 0;
  for (int i = 0; i < 20; ++i)
    answered += Ask(port, "localhost", std::chrono::seconds(5)) == "HTTP/1.1 200 OK";
  CloseAll(idle);
  EXPECT_GE(answered, 19);
  // Spinning, it would have used the whole 3 s.
  EXPECT_LT(held, 1.0);
  EXPECT_EQ(preview.Stop(SIGINT), 0);
}

TEST_F(PreviewHostile, SlowClientsAndEventStreamsLeaveRoomForRequests) {
  // 1,024 event streams shut every other request out, and 1,100 connections that sent a
  // byte a second let 1 of 45 requests through.
  constexpr int kSlow = 1100;
  constexpr int kStreams = 1030;
  if (!AllowDescriptors(kSlow + kStreams + 200))
    GTEST_SKIP() << "too few descriptors allowed";
  RunningPreview preview(dir, {"site", "-serve", "-port", "0"});
  const int port = preview.Port();
  ASSERT_NE(port, 0);
  std::vector<int> streams;
  for (int i = 0; i < kStreams; ++i) {
    const int fd = Connect(port);
    if (fd >= 0 && SendText(fd, "GET /.tarvix/events HTTP/1.1\r\nHost: localhost\r\n\r\n"))
      streams.push_back(fd);
  }
  std::vector<int> slow;
  for (int i = 0; i < kSlow; ++i) {
    const int fd = Connect(port);
    if (fd >= 0 && SendText(fd, "G"))
      slow.push_back(fd);
  }
  // A byte a second on each slow connection while the requests are made.
  std::atomic<bool> done{false};
  std::thread trickle([&] {
    const std::string_view request = "ET /index.html HTTP/1.1\r\n";
    for (std::size_t at = 0; !done.load() && at < request.size(); ++at) {
      for (const int fd : slow)
        (void)send(fd, request.data() + at, 1, MSG_NOSIGNAL);
      for (int i = 0; i < 10 && !done.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  int answered = 0;
  for (int i = 0; i < 20; ++i)
    answered += Ask(port, "localhost", std::chrono::seconds(1)) == "HTTP/1.1 200 OK";
  done = true;
  trickle.join();
  // Some streams are still open and carry the server's first chunk.
  int streaming = 0;
  for (const int fd : streams)
    streaming += ReadFor(fd, std::chrono::milliseconds(1)).find("retry: 500") != std::string::npos;
  CloseAll(streams);
  CloseAll(slow);
  EXPECT_GE(answered, 19);
  EXPECT_GT(streaming, 0);
  EXPECT_EQ(preview.Stop(SIGINT), 0);
}

}  // namespace
}  // namespace tarvix

#endif  // _WIN32
