// A document file converted from its mapping: the memory it costs stays a window behind
// the conversion, and a file that changes meanwhile gives the page of one state of it,
// never a mix of two.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/ConvertFile.h"
#include "core/Parser_CL.h"
#include "platform/Platform.h"
#include "support/Convert.h"
#include "support/ScopedTempDir.h"
#include "text/Text.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// Keeps the messages of a run and, when the `at`-th arrives, changes the document: the
// change lands at a known point of a pass.
class ChangingSink_CL final : public MessageSink_CL {
 public:
  ChangingSink_CL(std::size_t at, std::function<void()> change)
      : at_(at), change_(std::move(change)) {}
  void Message(std::string_view line, MessageStream /*stream*/) override {
    lines.emplace_back(line);
    if (lines.size() == at_)
      change_();
  }
  std::vector<std::string> lines;

 private:
  std::size_t at_;
  std::function<void()> change_;
};

struct RunOutcome {
  int status = -1;
  std::string page;
  std::vector<std::string> messages;
};

// Converts `path` into `page.html` beside it as the program does; `change` runs at the
// `at`-th message.
RunOutcome Convert(const ScopedTempDir& dir, const std::string& path, std::size_t at,
                   std::function<void()> change, bool secondPassInFull = false) {
  ChangingSink_CL sink(at, std::move(change));
  RunOutcome run;
  {
    Parser_CL parser;
    ParserSettings settings;
    settings.messages = &sink;
    parser.UseSettings(settings);
    if (secondPassInFull)
      parser.ConvertSecondPassInFull();
    run.status = ConvertFile(parser, {path, "-o", dir.PathOf("page.html")});
  }
  run.page = dir.ReadFile("page.html");
  run.messages = sink.lines;
  return run;
}

// The page of `bytes` converted alone from a file beside the document.
std::string PageOf(const ScopedTempDir& dir, std::string_view bytes) {
  const std::string path = dir.WriteFile("alone.md", bytes);
  const RunOutcome run = Convert(dir, path, 0, [] {});
  EXPECT_EQ(run.status, 0);
  return run.page;
}

// True when this system maps documents rather than reading them whole.
bool SystemMaps(const ScopedTempDir& dir) {
  platform::MappedFile mapped;
  return platform::MapFile(dir.WriteFile("probe.md", "x"), &mapped);
}

void SetOldTime(const std::string& path) {
  // Far in the past, so that a change made now shows whatever the clock's granularity.
  fs::last_write_time(path, fs::last_write_time(path) - std::chrono::hours(24 * 365));
}

// Blocks of every common kind, numbered, `count` of them.
std::string Body(int count, std::string_view word) {
  std::string body;
  for (int i = 0; i < count; ++i) {
    const std::string n = IntToText(i);
    body += "# Heading " + n + "\n\nA " + std::string(word) + " paragraph *" + n +
            "* with `code` and [a link](u" + n + ".html).\n\n> quoted " + n +
            "\n\n- item\n- item " + n + "\n\n| a | b |\n|---|---|\n| " + n + " | x |\n\n";
  }
  return body;
}

// The header comment whose missing include makes two messages: the hook for the change.
constexpr std::string_view kHook = "<!-- include: missing.md -->\n";

TEST(MappedDocument, FileCutShortDuringThePassGivesThePageOfWhatIsLeft) {
  ScopedTempDir dir;
  const bool maps = SystemMaps(dir);
  const std::string bytes = std::string(kHook) + Body(400, "plain");
  const std::size_t kept = bytes.size() / 3;
  const std::string path = dir.WriteFile("doc.md", bytes);
  const RunOutcome run = Convert(dir, path, 1, [&] { fs::resize_file(path, kept); });
  EXPECT_EQ(run.status, 0);
  const std::string missing = "Include File Not Find \"" + dir.PathOf("missing.md") + "\"";
  const std::string detail = "tarvix: " + dir.PathOf("missing.md") + ": No such file or directory";
  if (maps) {
    // The pass that saw the cut is dropped and its messages stay said; the file as it is
    // now is converted from the start.
    EXPECT_EQ(run.page, PageOf(dir, bytes.substr(0, kept)));
    EXPECT_EQ(run.messages, (std::vector<std::string>{missing, detail, missing, detail}));
  } else {
    // A document read whole is not affected.
    EXPECT_EQ(run.page, PageOf(dir, bytes));
    EXPECT_EQ(run.messages, (std::vector<std::string>{missing, detail}));
  }
}

TEST(MappedDocument, FileRewrittenDuringAPassGivesThePageOfTheNewBytes) {
  ScopedTempDir dir;
  const bool maps = SystemMaps(dir);
  // The rewrite in the first pass, and, with a reference before its definition, in the
  // second pass converting in full, after the first had collected the old definition.
  for (const bool secondPass : {false, true}) {
    auto state = [secondPass](std::string_view word, std::string_view url) {
      const std::string forward = secondPass ? "See [the end][end].\n\n" : "";
      return forward + std::string(kHook) + Body(300, word) + "\n[end]: " + std::string(url) + "\n";
    };
    const std::string before = state("alpha", "old.html");
    const std::string after = state("omega", "new.html");
    ASSERT_EQ(before.size(), after.size());
    const std::string path = dir.WriteFile("doc.md", before);
    SetOldTime(path);
    const RunOutcome run = Convert(
        dir, path, secondPass ? 3 : 1, [&] { dir.WriteFile("doc.md", after); }, secondPass);
    EXPECT_EQ(run.status, 0) << secondPass;
    EXPECT_EQ(run.page, PageOf(dir, maps ? after : before)) << secondPass;
    EXPECT_EQ(run.page.find("alpha") == std::string::npos, maps) << secondPass;
    // Two messages a pass: one or two passes, made again when the file changed.
    const std::size_t passes = (secondPass ? 2 : 1) * (maps ? 2 : 1);
    EXPECT_EQ(run.messages.size(), 2 * passes) << secondPass;
  }
}

TEST(MappedDocument, LargeFileCutShortNearItsEndAfterPagesWereReleased) {
  // A document of several megabytes gives back the pages behind the conversion as it goes;
  // cut short near its end, the page is that of what is left.
  ScopedTempDir dir;
  const bool maps = SystemMaps(dir);
  std::string bytes = Body(44000, "long");
  const std::size_t kept = bytes.size() / 2 + 7;
  // A reference used at the top and defined at the end: the second pass is completed from
  // the first, or made in full when the first saw the change.
  bytes = "[top][end]\n\n" + bytes + std::string(kHook) + "[end]: end.html\n";
  ASSERT_GT(bytes.size(), std::size_t{6} << 20);
  const std::string path = dir.WriteFile("doc.md", bytes);
  const RunOutcome run = Convert(dir, path, 1, [&] { fs::resize_file(path, kept); });
  EXPECT_EQ(run.status, 0);
  const std::string expected = PageOf(dir, maps ? bytes.substr(0, kept) : bytes);
  EXPECT_EQ(run.page.size(), expected.size());
  EXPECT_TRUE(run.page == expected);
}

// The resident memory of the mappings of `path` in this process, in kB, from the
// system's account of it; -1 when there is none.
long MappedKb(const std::string& path) {
  std::ifstream maps("/proc/self/smaps");
  std::string line;
  bool inside = false;
  long kb = -1;
  while (std::getline(maps, line)) {
    if (line.size() > path.size() &&
        line.compare(line.size() - path.size(), path.size(), path) == 0) {
      inside = true;
      continue;
    }
    if (inside && line.rfind("Rss:", 0) == 0) {
      kb = (kb < 0 ? 0 : kb) + std::atol(line.c_str() + 4);
      inside = false;
    }
  }
  return kb;
}

TEST(MappedDocument, PagesBehindTheConversionAreGivenBack) {
  // The whole document stayed in memory beside the page: 100 MB of input cost 100 MB.
  ScopedTempDir dir;
  if (!SystemMaps(dir))
    GTEST_SKIP() << "documents are read, not mapped, on this system";
  const std::string piece =
      "Some plain words that make up a paragraph of the document, one line of it.\n\n";
  const std::string bytes =
      Repeat(piece, (std::size_t{11} << 20) / piece.size()) + std::string(kHook) + "The end.\n";
  const std::string path = dir.WriteFile("doc.md", bytes);
  long resident = -2;
  const RunOutcome run = Convert(dir, path, 1, [&] { resident = MappedKb(path); });
  EXPECT_EQ(run.status, 0);
  // At the end of 11 MB: what lies within some 5 MB behind the conversion, and the few
  // pages ahead that the page estimate looked at.
  EXPECT_GE(resident, 0);
  EXPECT_LT(resident, 6 * 1024);
  EXPECT_NE(run.page.find("<p>The end. </p>"), std::string::npos);
}

}  // namespace
}  // namespace tarvix
