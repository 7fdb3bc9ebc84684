// A site run on POSIX under signals and odd files: interrupted at many jobs it leaves no
// temporary file, a killed run's leftovers go with the next run, and FIFOs or devices where
// files belong never hold it up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// Starts the program in `folder`; its standard output and error go to `out` and `err`.
pid_t StartProgram(const std::string& folder, const std::vector<std::string>& arguments,
                   const std::string& out, const std::string& err, bool asUser = false) {
  std::vector<std::string> strings{TARVIX_PROGRAM};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : strings)
    argv.push_back(s.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDONLY);
    const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(null, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    if (chdir(folder.c_str()) != 0)
      _exit(126);
    // The superuser reads any folder: without these two (numbers 1 and 2 of the system's
    // list) it is held to the folders' modes as any user is.
    if (asUser &&
        (prctl(PR_CAPBSET_DROP, 1, 0, 0, 0) != 0 || prctl(PR_CAPBSET_DROP, 2, 0, 0, 0) != 0))
      _exit(125);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

// The child's status as a shell shows it (128 + n for signal n).
int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits until `path` exists; false when the child ended first or a minute passed.
bool WaitForFile(pid_t child, const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < end) {
    std::error_code error;
    if (fs::exists(path, error))
      return true;
    // Ended already (the child stays to be waited for).
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == child)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

// The names below `folder` that a temporary file beside a page gets.
std::vector<std::string> TemporaryFilesBelow(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".Tarvix", 0) == 0 || name.rfind(".tarvix-", 0) == 0)
      found.push_back(entry.path().string());
  }
  return found;
}

// `count` small documents in site/, spread over ten folders.
void WriteManyDocuments(const ScopedTempDir& dir, int count) {
  for (int f = 0; f < 10; ++f)
    fs::create_directories(dir.PathOf("site/f" + std::to_string(f)));
  for (int i = 0; i < count; ++i) {
    dir.WriteFile("site/f" + std::to_string(i % 10) + "/d" + std::to_string(10000 + i) + ".md",
                  "# Page " + std::to_string(i) + "\n\nSome *text* and a [link](x.html).\n");
  }
}

// SIGINT or SIGTERM at -j 16 left up to 85 temporary files in the output: the handler swept
// its table once while other workers went on creating files.
TEST(SiteSignals, InterruptAtManyJobsLeavesNoTemporaryFile) {
  ScopedTempDir dir;
  WriteManyDocuments(dir, 3000);
  int interrupted = 0;
  const int delays[] = {0, 3, 10, 30, 0, 20};
  for (std::size_t round = 0; round < std::size(delays); ++round) {
    fs::remove_all(dir.PathOf("out"));
    const int signal = round % 2 == 0 ? SIGINT : SIGTERM;
    const pid_t child = StartProgram(dir.path(), {"site", "-o", "out", "-j", "16"},
                                     dir.PathOf("run.out"), dir.PathOf("run.err"));
    // Once the first folder of pages exists, the workers are making files.
    if (WaitForFile(child, dir.PathOf("out/f0")))
      std::this_thread::sleep_for(std::chrono::milliseconds(delays[round]));
    kill(child, signal);
    const int status = WaitFor(child);
    if (status == 128 + signal)
      ++interrupted;
    else
      EXPECT_EQ(status, 0) << dir.ReadFile("run.err");
    EXPECT_EQ(TemporaryFilesBelow(dir.PathOf("out")), std::vector<std::string>{})
        << "round " << round;
  }
  // The runs were interrupted, not over before the signal came.
  EXPECT_GE(interrupted, 3);
}

// kill -9 leaves a temporary file for each page being written, and no run removed them.
TEST(SiteSignals, LeftoversOfAKilledRunAreRemoved) {
  ScopedTempDir dir;
  WriteManyDocuments(dir, 1500);
  const pid_t child = StartProgram(dir.path(), {"site", "-o", "out", "-j", "8"},
                                   dir.PathOf("run.out"), dir.PathOf("run.err"));
  (void)WaitForFile(child, dir.PathOf("out/f3"));
  kill(child, SIGKILL);
  EXPECT_EQ(WaitFor(child), 128 + SIGKILL);
  // Whatever the kill left, and more of the same names; a user's file that merely looks
  // alike (the sweep once took ".TarvixBackup") is not one of ours.
  fs::create_directories(dir.PathOf("out/f5"));
  for (const char* left : {"out/.tarvix-Ab12Cd34Ef.tmp", "out/f5/.tarvix-0000000000.tmp"})
    dir.WriteFile(left, "partial");
  const std::vector<std::string> mine{"out/.Tarvix-notes", "out/.TarvixBackup",
                                      "out/f5/.tarvix-0000000000.tmp.old", "out/.tarvix-short.tmp"};
  for (const std::string& name : mine)
    dir.WriteFile(name, "mine");
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  const Summary s = SummaryOf(r.err);
  EXPECT_EQ(s.converted + s.upToDate, 1500);
  std::vector<std::string> left = TemporaryFilesBelow(dir.PathOf("out"));
  std::vector<std::string> expected;
  for (const std::string& name : mine)
    expected.push_back(dir.PathOf(name));
  std::sort(left.begin(), left.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}

// A run makes its journal before its first temporary file, and writes its state only now
// and then: killed in between, it leaves a finished state and a journal that is still
// empty, and the next run must take the journal's word that temporary files may be left.
TEST(SiteSignals, EmptyJournalBesideAFinishedStateMeansLeftovers) {
  ScopedTempDir dir;
  WriteManyDocuments(dir, 20);
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_NE(dir.ReadFile("out/.ht-tarvix-site").find("\nrun\tfinished\n"), std::string::npos);
  dir.WriteFile("out/.ht-tarvix-made", "");
  dir.WriteFile("out/f3/.tarvix-Ab12Cd34Ef.tmp", "partial");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, 20) << r.err;
  EXPECT_TRUE(TemporaryFilesBelow(dir.PathOf("out")).empty());
  EXPECT_FALSE(fs::exists(dir.PathOf("out/.ht-tarvix-made")));

  // An edit's run makes the journal, and takes it away once the state records the page.
  const std::string before = dir.ReadFile("out/.ht-tarvix-site");
  dir.WriteFile("site/f3/d10003.md", "# Edited\n");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).converted, 1) << r.err;
  EXPECT_NE(dir.ReadFile("out/.ht-tarvix-site"), before);
  EXPECT_FALSE(fs::exists(dir.PathOf("out/.ht-tarvix-made")));
}

// A FIFO in the state file's place hung the run; the zero device aborted it.
TEST(SiteSignals, StateFileThatIsNoFileMeansAFullRun) {
  for (const char* kind : {"fifo", "zero device"}) {
    ScopedTempDir dir;
    fs::create_directories(dir.PathOf("site"));
    dir.WriteFile("site/a.md", "A\n");
    ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
    const std::string state = dir.PathOf("out/.ht-tarvix-site");
    fs::remove(state);
    if (std::string(kind) == "fifo") {
      ASSERT_EQ(mkfifo(state.c_str(), 0600), 0);
    } else {
      fs::create_symlink("/dev/zero", state);
    }
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    EXPECT_EQ(r.status, 0) << kind << "\n" << r.err;
    EXPECT_NE(r.err.find("out/.ht-tarvix-site: StateFile ignored\n"), std::string::npos) << r.err;
    EXPECT_EQ(SummaryOf(r.err).converted, 1) << r.err;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(state))) << kind;
  }
}

// A document that became a FIFO after the walk held the run for ever.
TEST(SiteSignals, DocumentTurnedIntoAFifoIsReported) {
  ScopedTempDir dir;
  WriteManyDocuments(dir, 1000);
  dir.WriteFile("site/zz.md", "Last\n");
  const pid_t child = StartProgram(dir.path(), {"site", "-o", "out", "-j", "1"},
                                   dir.PathOf("run.out"), dir.PathOf("run.err"));
  // The walk is over once the first page is written; zz.md comes last.
  ASSERT_TRUE(WaitForFile(child, dir.PathOf("out/f0/d10000.html")));
  fs::remove(dir.PathOf("site/zz.md"));
  ASSERT_EQ(mkfifo(dir.PathOf("site/zz.md").c_str(), 0600), 0);
  EXPECT_EQ(WaitFor(child), 1);
  EXPECT_NE(dir.ReadFile("run.out").find("site/zz.md: Open Err InputFile\n"
                                         "site/zz.md: tarvix: site/zz.md: "),
            std::string::npos)
      << dir.ReadFile("run.out");
  const Summary s = SummaryOf(dir.ReadFile("run.err"));
  EXPECT_EQ(s.converted, 1000);
  EXPECT_EQ(s.failed, 1);
}

// The files below `folder` but the run's own state, its news and the journal, relative to it.
std::set<std::string> OutputsBelow(const std::string& folder) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name != ".ht-tarvix-site" && name != ".ht-tarvix-made" &&
        name != ".ht-tarvix-news")
      found.insert(fs::relative(entry.path(), folder).string());
  }
  return found;
}

// A folder of SRC that could not be read was taken as gone: its pages and their folder
// were removed although the documents were there.
TEST(SiteSignals, UnreadableFolderKeepsItsOutputs) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/docs"));
  dir.WriteFile("site/index.md", "# Home\n");
  for (const char* name : {"a", "b", "c"})
    dir.WriteFile(std::string("site/docs/") + name + ".md", "# Doc\n");
  dir.WriteFile("site/docs/pic.svg", "<svg/>");
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  const std::set<std::string> made = OutputsBelow(dir.PathOf("out"));
  ASSERT_EQ(made.size(), 5u);
  fs::permissions(dir.PathOf("site/docs"), fs::perms::none);
  const pid_t child = StartProgram(dir.path(), {"site", "-o", "out"}, dir.PathOf("run.out"),
                                   dir.PathOf("run.err"), true);
  const int status = WaitFor(child);
  fs::permissions(dir.PathOf("site/docs"), fs::perms::owner_all);
  const std::string err = dir.ReadFile("run.err");
  ASSERT_NE(status, 125) << "the capabilities could not be dropped";
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("site/docs: Open Err Folder"), std::string::npos) << err;
  EXPECT_NE(err.find("site/docs: outputs kept, the folder could not be read"), std::string::npos)
      << err;
  EXPECT_EQ(OutputsBelow(dir.PathOf("out")), made);
  // Readable again: nothing to make, and the state still knows every page.
  const RunResult again = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(SummaryOf(again.err).upToDate, 4) << again.err;
  fs::remove_all(dir.PathOf("site/docs"));
  const RunResult gone = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(OutputsBelow(dir.PathOf("out")), std::set<std::string>{"index.html"}) << gone.err;
}

// kill -9 between writing pages and recording them: once their documents were deleted,
// those pages stayed for good (3,000 of them after ten rounds).
// The same with a state large enough that runs write its news rather than the state whole.
void KilledRunsLeaveOnlyOurPages(bool largeState) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/big"));
  dir.WriteFile("site/index.md", "# Home\n");
  std::set<std::string> kept{"index.html"};
  for (int i = 0; largeState && i < 500; ++i) {
    dir.WriteFile("site/big/b" + std::to_string(i) + ".md",
                  "# Big " + std::to_string(i) + "\n\n[next](b" + std::to_string(i + 1) + ".md)\n");
    kept.insert(Native("big/b" + std::to_string(i) + ".html"));
  }
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  ASSERT_EQ(fs::file_size(dir.PathOf("out/.ht-tarvix-site")) > 64 * 1024, largeState);
  int killedMidway = 0;
  for (int round = 0; round < 6; ++round) {
    const std::string folder = "site/r" + std::to_string(round);
    fs::create_directories(dir.PathOf(folder));
    for (int i = 0; i < 300; ++i)
      dir.WriteFile(folder + "/d" + std::to_string(i) + ".md",
                    "# Page " + std::to_string(i) + "\n");
    const pid_t child = StartProgram(dir.path(), {"site", "-o", "out", "-j", "2"},
                                     dir.PathOf("run.out"), dir.PathOf("run.err"));
    // Killed once some of the pages are there, at a moment that varies from round to round.
    const bool started = WaitForFile(child, dir.PathOf("out/r" + std::to_string(round) + "/d1" +
                                                       std::to_string(round) + ".html"));
    std::this_thread::sleep_for(std::chrono::microseconds(300 * round));
    kill(child, SIGKILL);
    killedMidway += WaitFor(child) == 128 + SIGKILL && started;
    fs::remove_all(dir.PathOf(folder));
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(OutputsBelow(dir.PathOf("out")), kept) << "round " << round << "\n" << r.err;
    // One document edited between the rounds: a large state's news, before the next kill.
    if (largeState) {
      dir.WriteFile("site/big/b7.md", "# Edited " + std::to_string(round) + "\n");
      EXPECT_EQ(SummaryOf(RunProgram(dir.path(), {"site", "-o", "out"}).err).converted, 1);
      EXPECT_TRUE(fs::exists(dir.PathOf("out/.ht-tarvix-news"))) << round;
    }
  }
  EXPECT_GE(killedMidway, 3);
}

TEST(SiteSignals, PagesOfAKilledRunAreStillKnownAsOurs) {
  KilledRunsLeaveOnlyOurPages(false);
  KilledRunsLeaveOnlyOurPages(true);
}

// Stale pages were looked at, then unlinked: a file renamed onto one in between was
// deleted (1,279 of 24,995).
TEST(SiteSignals, FileRenamedOntoAStalePageStays) {
  ScopedTempDir dir;
  constexpr int kPages = 1500;
  fs::create_directories(dir.PathOf("site"));
  for (int i = 0; i < kPages; ++i)
    dir.WriteFile("site/p" + std::to_string(i) + ".md", "# " + std::to_string(i) + "\n");
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  fs::remove_all(dir.PathOf("site"));
  fs::create_directories(dir.PathOf("site"));
  // The user's own files, each with bytes of its own, renamed onto the stale pages while
  // the run removes them.
  for (int i = 0; i < kPages; ++i)
    dir.WriteFile("out/u" + std::to_string(i), "user " + std::to_string(i));
  const pid_t child =
      StartProgram(dir.path(), {"site", "-o", "out"}, dir.PathOf("run.out"), dir.PathOf("run.err"));
  for (int i = 0; i < kPages; ++i)
    fs::rename(dir.PathOf("out/u" + std::to_string(i)),
               dir.PathOf("out/p" + std::to_string(i) + ".html"));
  EXPECT_EQ(WaitFor(child), 0) << dir.ReadFile("run.err");
  std::set<std::string> contents;
  for (const std::string& name : OutputsBelow(dir.PathOf("out")))
    contents.insert(dir.ReadFile("out/" + name));
  for (int i = 0; i < kPages; ++i)
    EXPECT_EQ(contents.count("user " + std::to_string(i)), 1u) << i;
}

}  // namespace
}  // namespace tarvix
