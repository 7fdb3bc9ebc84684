// A site run never reports a stale or missing page as fine: inputs that change while their
// page converts, another program, another working folder, damaged state files, pages changed
// in the output, and the sources it must refuse or report rather than skip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "site/SiteState.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "support/SiteSummary.h"
#include "text/Text.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// Three documents, a template and an include file.
void WriteSmallSite(const ScopedTempDir& dir) {
  fs::create_directories(dir.PathOf("site/sub"));
  dir.WriteFile("site/page.html", "<title>####TITLE####</title>\n####BODY####\n");
  dir.WriteFile("site/inc.txt", "<!--\nkeywords: old\n-->\n");
  dir.WriteFile("site/a.md", "<!--\ntitle: A\ntemplate: page.html\ninclude: inc.txt\n-->\nA\n");
  dir.WriteFile("site/b.md", "<!--\ntemplate: page.html\n-->\nB\n");
  dir.WriteFile("site/sub/c.md", "<!--\ntemplate: ../page.html\n-->\nC\n");
}

SiteState ReadState(const ScopedTempDir& dir) {
  SiteState state;
  EXPECT_EQ(ParseSiteState(dir.ReadFile("out/.ht-tarvix-site"), &state), StateRead::kRead);
  return state;
}

std::string StateIgnored() {
  return Lines(Native("out/.ht-tarvix-site") + ": StateFile ignored\n");
}

// An input rewritten while its page converted was stamped after the conversion read it:
// the next run took the stale page for up to date. Here the input is the page itself,
// which the conversion replaces after reading it, so the change always falls inside it.
TEST(SiteTruth, InputChangedDuringConversionIsConvertedAgain) {
  const char* documents[] = {
      "<!--\ninclude: ../out/a.html\n-->\nA\n",
      "<!--\ntemplate: ../out/a.html\n-->\nA\n",
  };
  for (const char* document : documents) {
    ScopedTempDir dir;
    fs::create_directories(dir.PathOf("site"));
    fs::create_directories(dir.PathOf("out"));
    dir.WriteFile("out/a.html", "<!--\nkeywords: first\n-->\n####BODY####");
    dir.WriteFile("site/a.md", document);
    for (int run = 0; run < 3; ++run) {
      const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(SummaryOf(r.err).converted, 1) << document << " run " << run;
    }
  }
  // The same once the page was recorded: its include, known from the record, turns into
  // the page itself.
  if (kWindows)
    return;
  ScopedTempDir dir;
  WriteSmallSite(dir);
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  fs::remove(dir.PathOf("site/inc.txt"));
  fs::create_symlink("../out/a.html", dir.PathOf("site/inc.txt"));
  for (int run = 0; run < 2; ++run) {
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    EXPECT_EQ(SummaryOf(r.err).converted, 1) << r.err;
    EXPECT_EQ(SummaryOf(r.err).upToDate, 2) << r.err;
  }
}

TEST(SiteTruth, StateIsTheSameFromAnyFolderAndSpelling) {
  ScopedTempDir dir;
  WriteSmallSite(dir);
  fs::create_directories(dir.PathOf("elsewhere/deeper"));
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out", "-t", Native("site/page.html")}).status,
            0);
  const std::string state = dir.ReadFile("out/.ht-tarvix-site");
  // Published with the pages: it names no folder of this machine.
  EXPECT_EQ(state.find(dir.path()), std::string::npos) << state;
  EXPECT_EQ(state.find(fs::canonical(dir.path()).string()), std::string::npos) << state;
  struct Case {
    const char* folder;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {".", {"site", "-o", Native("./out/"), "-t", Native("./site/../site/page.html")}},
      {"elsewhere/deeper",
       {Native("../../site"), "-o", Native("../../out"), "-t", Native("../../site/page.html")}},
      {"site", {".", "-o", Native("../out"), "-t", "page.html"}},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(dir.PathOf(c.folder), c.arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SummaryOf(r.err).upToDate, 3) << c.folder << "\n" << r.err;
    EXPECT_EQ(dir.ReadFile("out/.ht-tarvix-site"), state) << c.folder;
  }
}

// A rebuilt program that renders differently found every page up to date.
TEST(SiteTruth, AnotherProgramConvertsEveryPage) {
  ScopedTempDir dir;
  WriteSmallSite(dir);
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  SiteState state = ReadState(dir);
  EXPECT_EQ(state.program.rfind("0.1.0 ", 0), 0u) << state.program;
  EXPECT_GT(state.program.size(), std::string("0.1.0 ").size());
  state.program = "0.1.0 0000";
  dir.WriteFile("out/.ht-tarvix-site", FormatSiteState(state));
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).converted, 3) << r.err;
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).upToDate, 3) << r.err;
}

// A state file cut at a line end dropped a page's inputs, and a record naming a page outside
// the output kept its page up to date for ever once deleted.
TEST(SiteTruth, DamagedStateMeansAFullRun) {
  struct Case {
    const char* name;
    bool warned;
  };
  const Case cases[] = {{"cut record", true}, {"wrong checksum", true}, {"foreign target", false},
                        {"empty file", true}, {"old format", false},    {"oversized", true}};
  for (const Case& c : cases) {
    ScopedTempDir dir;
    WriteSmallSite(dir);
    ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
    const std::string text = dir.ReadFile("out/.ht-tarvix-site");
    const std::string name = c.name;
    if (name == "cut record") {
      dir.WriteFile("out/.ht-tarvix-site", text.substr(0, text.find("\ninput\t") + 1));
    } else if (name == "wrong checksum") {
      std::string changed = text;
      changed[changed.size() - 2] = changed[changed.size() - 2] == 'a' ? 'b' : 'a';
      dir.WriteFile("out/.ht-tarvix-site", changed);
    } else if (name == "foreign target") {
      // Every record names a page outside the output, which exists and is kept unchanged;
      // the pages themselves are gone.
      SiteState state = ReadState(dir);
      fs::create_directories(dir.PathOf("elsewhere"));
      for (SitePage& page : state.pages) {
        const std::string foreign = "elsewhere/" + fs::path(page.target).filename().string();
        dir.WriteFile(foreign, "kept");
        fs::remove(dir.PathOf("out/" + ToForwardSlashes(page.target)));
        page.target = Native("../" + foreign);
        page.page = platform::StampOf(dir.PathOf(foreign));
      }
      dir.WriteFile("out/.ht-tarvix-site", FormatSiteState(state));
    } else if (name == "empty file") {
      dir.WriteFile("out/.ht-tarvix-site", "tarvix-site 3\n");
    } else if (name == "old format") {
      dir.WriteFile("out/.ht-tarvix-site", "tarvix-site 1\noptions\tx\n");
    } else if (name == "oversized") {
      // More than 64 MiB and 4 KiB a document: not read at all.
      dir.WriteFile("out/.ht-tarvix-site", text + std::string((64u << 20) + 3 * 4096, '#'));
    }
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    EXPECT_EQ(r.status, 0) << name << "\n" << r.err;
    EXPECT_EQ(SummaryOf(r.err).converted, 3) << name << "\n" << r.err;
    EXPECT_EQ(r.err.find(StateIgnored()) != std::string::npos, c.warned) << name << "\n" << r.err;
    EXPECT_TRUE(fs::exists(dir.PathOf("out/a.html"))) << name;
    if (name == "foreign target") {
      EXPECT_EQ(dir.ReadFile("elsewhere/a.html"), "kept");
    }
  }
}

// A page that no longer is what the run wrote is made again: one edited by hand, one emptied
// by a crash after its rename.
TEST(SiteTruth, PageChangedInTheOutputIsMadeAgain) {
  ScopedTempDir dir;
  WriteSmallSite(dir);
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out"}).status, 0);
  const std::string a = dir.ReadFile("out/a.html");
  const std::string b = dir.ReadFile("out/b.html");
  dir.WriteFile("out/a.html", "edited by hand");
  dir.WriteFile("out/b.html", "");
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).converted, 2) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, 1) << r.err;
  EXPECT_EQ(dir.ReadFile("out/a.html"), a);
  EXPECT_EQ(dir.ReadFile("out/b.html"), b);
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).upToDate, 3) << r.err;
}

// The state written while a page was still being made handed every record after that page
// the record before it: the run reported each page's broken links under the next page's
// name, and the run after it made unchanged pages again. Here one page has a thousand
// inputs to look at, the last one changed, while the other worker gets through the pages
// after it.
TEST(SiteTruth, StateWrittenMidRunKeepsEachPagesRecord) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/inc"));
  std::string slow = "<!--\n";
  for (int k = 0; k < 1000; ++k) {
    const std::string include = "inc/i" + std::to_string(k) + ".txt";
    dir.WriteFile("site/" + include, "<!--\nkeywords: k\n-->\n");
    slow += "include: " + include + "\n";
  }
  dir.WriteFile("site/d130.md", slow + "-->\n[x](missing130.html)\n");
  std::map<std::string, std::string> expected;  // broken link messages, by document
  for (int k = 100; k < 160; ++k) {
    const std::string name = "d" + std::to_string(k);
    if (k != 130)
      dir.WriteFile("site/" + name + ".md", "[x](missing" + std::to_string(k) + ".html)\n");
    expected[Native("site/" + name + ".md")] =
        "broken link \"missing" + std::to_string(k) + ".html\" (no such file)";
  }
  ASSERT_EQ(RunProgram(dir.path(), {"site", "-o", "out", "-j", "2"}).status, 0);
  // Which worker gets where first is the system's choice: a few rounds make it likely that
  // one of them writes the state with pages after the slow one done. (One round under
  // wine, where each run takes several seconds.)
  const std::string last = dir.PathOf("site/inc/i999.txt");
  const int rounds = kWindows ? 1 : 4;
  RunResult r;
  for (int round = 0; round < rounds && !HasFailure(); ++round) {
    fs::last_write_time(last, fs::last_write_time(last) + std::chrono::seconds(10));
    r = RunProgram(dir.path(), {"site", "-o", "out", "-j", "2"});
    EXPECT_EQ(SummaryOf(r.err).converted, 1) << r.err;
    std::map<std::string, std::string> reported;
    for (std::string_view rest = r.err; !rest.empty();) {
      std::string_view line = rest.substr(0, rest.find('\n'));
      rest.remove_prefix(std::min(rest.size(), line.size() + 1));
      if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
      if (const std::size_t colon = line.find(": broken link "); colon != std::string_view::npos)
        reported[std::string(line.substr(0, colon))] = line.substr(colon + 2);
    }
    EXPECT_EQ(reported, expected) << "round " << round;
    std::map<std::string, int> records;
    for (const SitePage& page : ReadState(dir).pages)
      ++records[page.document];
    EXPECT_EQ(records.size(), 60u);
    for (const auto& [document, count] : records)
      EXPECT_EQ(count, 1) << document;
  }

  r = RunProgram(dir.path(), {"site", "-o", "out", "-j", "2"});
  EXPECT_EQ(SummaryOf(r.err).converted, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).upToDate, 60) << r.err;
}

// Documents more than 63 folders deep were skipped without a word.
TEST(SiteTruth, FolderTooDeepIsReported) {
  ScopedTempDir dir;
  std::string deep = "site";
  for (int i = 0; i < 100; ++i)
    deep += "/d";
  fs::create_directories(dir.PathOf(deep));
  dir.WriteFile(deep + "/x.md", "X\n");
  dir.WriteFile("site/top.md", "T\n");
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 1);
  std::string first = "site";
  for (int i = 0; i < 64; ++i)
    first += "/d";
  EXPECT_EQ(r.err.find(Lines(Native(first) + ": Open Err Folder\ntarvix: " + Native(first) +
                             ": too deep\n")),
            0u)
      << r.err;
  const Summary s = SummaryOf(r.err);
  EXPECT_EQ(s.converted, 1);
  EXPECT_EQ(s.failed, 1);
}

// 16 documents and 30 links that stay inside the input once gave 131,054 pages.
TEST(SiteTruth, FolderReachedThroughLinksIsWalkedOnce) {
  if (kWindows)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
  ScopedTempDir dir;
  const std::vector<std::string> folders = {"f1", "f2", "f3", "f4"};
  for (const std::string& f : folders) {
    fs::create_directories(dir.PathOf("site/" + f));
    dir.WriteFile("site/" + f + "/doc.md", f + "\n");
  }
  for (const std::string& f : folders) {
    for (const std::string& to : folders)
      fs::create_directory_symlink("../" + to, dir.PathOf("site/" + f + "/to" + to));
  }
  const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).converted, 4) << r.err;
  for (const std::string& f : folders)
    EXPECT_TRUE(fs::exists(dir.PathOf("out/" + f + "/doc.html"))) << f;
}

// The files below `root` but the state, each with its bytes.
std::map<std::string, std::string> OutputFiles(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().filename() == ".ht-tarvix-site")
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), root).generic_string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

// A walk takes a folder's listing from the state while the folder has not changed since a
// listing was kept, which happens only for folders that had settled before the walk: an
// entry added, a file turned into a folder, or a link that now leads to a folder must still
// give what a fresh run gives.
TEST(SiteTruth, KeptListingsGiveWhatAFreshWalkGives) {
  if (kWindows)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site/sub"));
  fs::create_directories(dir.PathOf("site/store"));
  dir.WriteFile("site/a.md", "A\n");
  dir.WriteFile("site/sub/b.md", "B\n");
  dir.WriteFile("site/store/file", "a file\n");
  // A link that leads nowhere yet.
  fs::create_symlink("store/thing", dir.PathOf("site/ln"));
  // Folders changed within the last few seconds are listed again on every walk.
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(SummaryOf(r.err).copied, 1) << r.err;
  const std::string state = dir.ReadFile("out/.ht-tarvix-site");
  EXPECT_NE(state.find("\nlisting\t"), std::string::npos) << state;
  EXPECT_NE(state.find("\tlln"), std::string::npos) << state;

  dir.WriteFile("site/sub/c.md", "C\n");
  fs::remove(dir.PathOf("site/store/file"));
  fs::create_directories(dir.PathOf("site/store/thing"));
  dir.WriteFile("site/store/thing/d.md", "D\n");
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(r.status, 0) << r.err;
  const RunResult fresh = RunProgram(dir.path(), {"site", "-o", "fresh"});
  EXPECT_EQ(fresh.status, 0) << fresh.err;
  EXPECT_EQ(SummaryOf(r.err).converted, SummaryOf(fresh.err).converted - 2) << r.err << fresh.err;
  EXPECT_TRUE(fs::exists(dir.PathOf("out/sub/c.html")));
  EXPECT_EQ(OutputFiles(dir.PathOf("out")), OutputFiles(dir.PathOf("fresh")));
  r = RunProgram(dir.path(), {"site", "-o", "out"});
  EXPECT_EQ(SummaryOf(r.err).converted, 0) << r.err;
}

// a.md beside a.MD both wrote a.html, and which one won changed between runs; a copy named
// like a page's -ext name replaced the page.
TEST(SiteTruth, TwoSourcesForOnePage) {
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("site"));
  dir.WriteFile("site/a.md", "lower\n");
  dir.WriteFile("site/a.MD", "upper\n");
  dir.WriteFile("site/b.md", "B\n");
  if (fs::exists(dir.PathOf("site/a.MD")) && dir.ReadFile("site/a.md") == "lower\n") {
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out"});
    EXPECT_EQ(r.status, 1);
    for (const char* document : {"site/a.MD", "site/a.md"}) {
      EXPECT_NE(
          r.err.find(Lines(Native(document) + ": Two sources for " + Native("out/a.html") + "\n")),
          std::string::npos)
          << r.err;
    }
    EXPECT_EQ(SummaryOf(r.err).failed, 2);
    EXPECT_EQ(SummaryOf(r.err).converted, 1);
    EXPECT_FALSE(fs::exists(dir.PathOf("out/a.html")));
    fs::remove(dir.PathOf("site/a.MD"));
  }
  fs::remove(dir.PathOf("site/a.md"));
  // With -ext the page takes the name its document asks for, and wins over a file of that
  // name, as a page named .html does.
  dir.WriteFile("site/p.md", "<!--\noutput_ext: .php\n-->\nPage\n");
  dir.WriteFile("site/p.php", "<?php copied ?>");
  for (int run = 0; run < 2; ++run) {
    const RunResult r = RunProgram(dir.path(), {"site", "-o", "out", "-ext"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SummaryOf(r.err).copied, 0) << r.err;
    EXPECT_NE(dir.ReadFile("out/p.php").find("Page"), std::string::npos);
  }
}

// An output folder reached through links, inside the input or around it: the walk leaves
// the one inside out, and the one around the input is refused before it is made.
TEST(SiteTruth, OutputThroughLinksIsFoundWhereItLies) {
  if (kWindows)
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
  ScopedTempDir dir;
  WriteSmallSite(dir);
  fs::create_directory_symlink("sub", dir.PathOf("site/link"));
  fs::create_directory_symlink("site/sub", dir.PathOf("outside"));
  for (const char* output : {"site/link/out", "outside/out"}) {
    const RunResult r = RunProgram(dir.path(), {"site", "-o", output});
    EXPECT_EQ(r.status, 0) << output << r.err;
    const RunResult again = RunProgram(dir.path(), {"site", "-o", output});
    EXPECT_EQ(SummaryOf(again.err).converted, 0) << output << again.err;
    EXPECT_FALSE(fs::exists(dir.PathOf("site/sub/out/sub/out"))) << output;
  }
  fs::create_directory_symlink("..", dir.PathOf("site/sub/up"));
  const std::vector<std::string> before = FolderEntries(dir.PathOf("site"));
  const RunResult r = RunProgram(dir.path(), {Native("site/sub"), "-o", "site/sub/up"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Input Folder and Output Folder may not contain each other\n");
  EXPECT_EQ(FolderEntries(dir.PathOf("site")), before);
}

}  // namespace
}  // namespace tarvix
