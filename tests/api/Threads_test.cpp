// Many documents converted on several threads at once: each must get the page and the
// messages it gets alone, since conversions share nothing. Built as a program of its own,
// so that a ThreadSanitizer build runs it without the rest of the suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/ConvertFile.h"
#include "core/Parser_CL.h"
#include "core/PrefaultAhead_CL.h"
#include "platform/Platform.h"
#include "support/Convert.h"
#include "support/ScopedTempDir.h"
#include "tarvix/tarvix.h"
#include "text/Text.h"

namespace tarvix {
namespace {

// Documents that reach every part of a run that keeps state: forward references (the
// completed first pass and its holes), caret links, heading ids, brushes, nested quotes and
// lists, header entries with an include that exists and one that does not.
std::vector<std::string> Documents() {
  const char* pieces[] = {
      "<!--\ntitle: T{n}\ntemplate: page.html\ninclude: inc.md\ninclude: gone{n}.md\n-->\n",
      "# Head {n}\n\n# Head {n}\n\nSee [x][r{n}] and [^c{n}] and ![p][r{n}].\n\n",
      "```cpp\nint x = {n};\n```\n\n```js\nvar y;\n```\n\n",
      "> quote *{n}*\n> > deeper **b** ~~s~~\n\n- a\n  - b `code {n}`\n1. one\n\n",
      "| a | b |\n|:-|-:|\n| {n} | <https://x.example/{n}> |\n\n",
      "[r{n}]: u{n}.html\n[^c{n}]: c{n}.html\n",
  };
  std::vector<std::string> documents;
  for (int n = 0; n < 48; ++n) {
    std::string document;
    // Each document takes a different selection of pieces (the definitions always), in
    // one order or the other.
    for (int k = 0; k < 6; ++k) {
      const int i = n % 2 == 0 ? k : 5 - k;
      if (((n >> i) & 1) == 0 && i != 5)
        continue;
      document += ReplaceAll(pieces[i], "{n}", std::to_string(n));
    }
    documents.push_back(Repeat(document, 1 + n % 4));
  }
  return documents;
}

TEST(Threads, ConcurrentConversionsMatchTheirLoneRuns) {
  ScopedTempDir dir;
  dir.WriteFile("inc.md", "<!-- keywords: from include -->");
  dir.WriteFile("page.html", "<title>####TITLE####</title>####KEYWORDS####\n####BODY####");
  const std::vector<std::string> documents = Documents();

  std::vector<PageOptions> options(documents.size());
  for (std::size_t i = 0; i < documents.size(); ++i) {
    options[i].imageLink = i % 2 == 1;
    if (i % 3 == 0)
      options[i].templateText = "####SYNTAX####|####ROOT####|####BODY####";
    if (i % 3 == 1)
      options[i].baseFolder = dir.path();
  }
  std::vector<PageResult> alone;
  for (std::size_t i = 0; i < documents.size(); ++i)
    alone.push_back(ConvertDocument(documents[i], options[i]));
  // The template and the include were read and the missing include reported: the runs
  // really use files.
  EXPECT_EQ(alone[1].page.substr(0, 31), "<title>T1</title>from include\n<");
  // (That document is written twice.)
  const std::string missing = "Include File Not Find \"" + dir.PathOf("gone1.md") +
                              "\"\ntarvix: " + dir.PathOf("gone1.md") +
                              ": No such file or directory";
  std::vector<std::string> texts;
  for (const Message& message : alone[1].messages)
    texts.push_back(message.text);
  EXPECT_EQ(texts, (std::vector<std::string>{missing, missing}));

  constexpr int kThreads = 6;
  constexpr int kRounds = 3;
  std::vector<std::vector<PageResult>> together(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread walks the documents from its own start, so that different documents
      // run side by side.
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < documents.size(); ++k) {
          const std::size_t i = (k + static_cast<std::size_t>(t) * 7) % documents.size();
          together[t].push_back(ConvertDocument(documents[i], options[i]));
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(together[t].size(), kRounds * documents.size());
    for (std::size_t k = 0; k < together[t].size(); ++k) {
      const std::size_t i =
          (k % documents.size() + static_cast<std::size_t>(t) * 7) % documents.size();
      EXPECT_EQ(together[t][k].page, alone[i].page) << "thread " << t << ", document " << i;
      EXPECT_EQ(together[t][k].messages, alone[i].messages) << "thread " << t << ", document " << i;
    }
  }
}

TEST(Threads, MappingsSideBySideKeepTheirOwnBytes) {
  // Each thread maps files of its own, gives their pages back and reads them again, and
  // cuts some short under the mapping: the bus errors that follow hit that thread's own
  // mapping alone, and every other mapping keeps its bytes.
  ScopedTempDir dir;
  {
    platform::MappedFile probe;
    if (!platform::MapFile(dir.WriteFile("probe", "x"), &probe))
      GTEST_SKIP() << "documents are read, not mapped, on this system";
  }
  constexpr int kThreads = 6;
  constexpr int kRounds = 8;
  constexpr std::size_t kSize = 300000;
  std::vector<std::string> failures(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        std::string bytes(kSize, '\0');
        for (std::size_t i = 0; i < kSize; ++i)
          bytes[i] = static_cast<char>('a' + (i + static_cast<std::size_t>(t * 31 + round)) % 26);
        const std::string path =
            dir.WriteFile("doc" + std::to_string(t) + "-" + std::to_string(round), bytes);
        platform::MappedFile mapped;
        if (!platform::MapFile(path, &mapped)) {
          failures[t] += "not mapped; ";
          continue;
        }
        for (std::size_t upTo = 0; upTo <= kSize; upTo += 70000) {
          platform::ReleaseMapped(mapped, upTo);
          if (std::string_view(mapped.data(), mapped.size()) != bytes)
            failures[t] += "bytes changed after a release; ";
        }
        const bool cut = round % 2 == 1;
        if (cut)
          std::filesystem::resize_file(path, kSize / 4);
        std::string seen(mapped.data(), mapped.size());
        if (cut) {
          bytes.replace(kSize / 4, std::string::npos, kSize - kSize / 4, '\0');
        }
        if (seen != bytes)
          failures[t] += "wrong bytes in round " + std::to_string(round) + "; ";
        if (platform::MappingIntact(mapped) == cut)
          failures[t] += "intact is wrong in round " + std::to_string(round) + "; ";
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(failures[t], "") << "thread " << t;
}

TEST(Threads, MappedDocumentsConvertSideBySideAsAlone) {
  // Documents large enough that each conversion gives back pages behind it as it goes.
  ScopedTempDir dir;
  constexpr int kThreads = 3;
  std::vector<std::string> documents;
  for (int t = 0; t < kThreads; ++t) {
    const std::string piece = "# Part " + std::to_string(t) +
                              "\n\nSome plain words to make up the text of the part, with a "
                              "reference [r] and *emphasis* in it.\n\n";
    documents.push_back(Repeat(piece, (std::size_t{5} << 20) / piece.size()) + "[r]: r.html\n");
  }
  std::vector<std::string> alone;
  for (const std::string& document : documents)
    alone.push_back(ConvertDocument(document).page);
  std::vector<std::string> pages(kThreads);
  std::vector<int> statuses(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string name = "doc" + std::to_string(t);
      const std::string path = dir.WriteFile(name + ".md", documents[t]);
      CollectedMessages_CL messages;
      Parser_CL parser;
      ParserSettings settings;
      settings.messages = &messages;
      parser.UseSettings(settings);
      statuses[t] = ConvertFile(parser, {path, "-o", dir.PathOf(name + ".html")});
      // The page file is written in text mode on Windows; the documents hold no CR.
      pages[t] = ReplaceAll(dir.ReadFile(name + ".html"), "\r\n", "\n");
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(statuses[t], 0) << t;
    EXPECT_TRUE(pages[t] == alone[t]) << t;
  }
}

TEST(Threads, PrefaultAheadLeavesWhatIsWritten) {
  // The helper makes memory ready while the filler writes into the same buffer: every byte
  // must be what the filler wrote, wherever the two met, also after the buffer moved.
  std::string buffer;
  buffer.reserve(std::size_t{12} << 20);
  PrefaultAhead_CL ahead;
  ahead.Start(buffer, std::size_t{4} << 20);
  EXPECT_EQ(ahead.Running(), platform::kPrefaults);
  constexpr std::size_t kPiece = 4096 + 17;  // pieces that straddle the helper's blocks
  const char* const first = buffer.data();
  for (std::size_t n = 0; buffer.size() + kPiece <= (std::size_t{20} << 20); ++n) {
    buffer.append(kPiece, static_cast<char>('a' + n % 26));
    ahead.Reach(buffer);
  }
  // The buffer outgrew its reserve on the way: the helper followed it.
  EXPECT_NE(buffer.data(), first);
  EXPECT_EQ(ahead.Running(), platform::kPrefaults);
  // Another string is not the helper's.
  std::string other(64, 'x');
  ahead.Reach(other);
  EXPECT_EQ(ahead.Running(), platform::kPrefaults);
  ahead.Stop();
  EXPECT_FALSE(ahead.Running());
  ahead.Reach(buffer);
  EXPECT_FALSE(ahead.Running());
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < buffer.size(); ++i)
    wrong += buffer[i] != static_cast<char>('a' + (i / kPiece) % 26);
  EXPECT_EQ(wrong, 0u);
}

TEST(Threads, PrefaultedBodyGivesTheSamePage) {
  // Large enough, with the size the helper starts from lowered, for the body's memory to
  // be made ready on a second thread; the page must be the one the library makes without
  // it, both passes included.
  ScopedTempDir dir;
  const std::string piece =
      "# Part\n\nWords with a forward [ref] and *emphasis*, `code` and <https://x.example/>.\n\n"
      "| a | b |\n|:-|-:|\n| 1 | 2 |\n\n- item\n  - inner\n\n```cpp\nint x;\n```\n\n";
  const std::string document =
      Repeat(piece, (std::size_t{5} << 20) / piece.size()) + "[ref]: target.html\n";
  const std::string path = dir.WriteFile("big.md", document);
  for (const bool prefault : {true, false}) {
    CollectedMessages_CL messages;
    Parser_CL parser;
    ParserSettings settings;
    settings.messages = &messages;
    settings.prefaultBody = prefault;
    settings.prefaultFrom = std::size_t{4} << 20;
    parser.UseSettings(settings);
    EXPECT_EQ(ConvertFile(parser, {path, "-o", dir.PathOf("big.html")}), 0) << prefault;
    EXPECT_TRUE(ReplaceAll(dir.ReadFile("big.html"), "\r\n", "\n") ==
                ConvertDocument(document).page)
        << prefault;
  }
}

}  // namespace
}  // namespace tarvix
