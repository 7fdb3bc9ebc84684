// The library on documents from anyone: entries that reach no file outside the base
// folder, pages and documents past their bounds refused with a result code.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "support/Convert.h"
#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"
#include "tarvix/tarvix.h"

namespace tarvix {
namespace {

namespace fs = std::filesystem;

// `path` with '/' between its names, as a document writes a path on any system.
std::string GenericSeparators(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// The lines the program would print for `messages`, detail lines included.
std::vector<std::string> Lines(const std::vector<Message>& messages) {
  std::vector<std::string> lines;
  for (const Message& message : messages) {
    std::size_t from = 0;
    for (std::size_t end; (end = message.text.find('\n', from)) != std::string::npos;
         from = end + 1)
      lines.push_back(message.text.substr(from, end - from));
    lines.push_back(message.text.substr(from));
  }
  return lines;
}

TEST(LibraryBounds, EntriesLeavingTheBaseFolderAreNotRead) {
  // With baseFolder set, "template: ../../etc/passwd" put that file into the page, and an
  // absolute entry was joined onto the folder.
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf(Native("base/sub")));
  dir.WriteFile("secret.html", "SECRET ####BODY####");
  dir.WriteFile("secret.md", "<!-- keywords: SECRET -->");
  dir.WriteFile(Native("base/sub/page.html"), "[####KEYWORDS####]####BODY####");
  dir.WriteFile(Native("base/inc.md"), "<!-- keywords: K -->");
  // A link inside the folder that leads out of it, where the system lets a test make one.
  std::error_code error;
  fs::create_symlink(dir.PathOf("secret.html"), dir.PathOf(Native("base/link.html")), error);
  const bool links = !error;
  fs::create_symlink(dir.PathOf("secret.md"), dir.PathOf(Native("base/link.md")), error);

  struct Case {
    std::string entry;   // as the document names it
    std::string inside;  // what the template puts before the body when it is read
  };
  std::vector<Case> cases = {
      {"../secret.html", "SECRET "},
      {"sub/../../secret.html", "SECRET "},
      {"./../secret.html", "SECRET "},
      // Written with '/': in a document a '\\' escapes the byte after it.
      {GenericSeparators(dir.PathOf("secret.html")), "SECRET "},
  };
  if (links)
    cases.push_back({"link.html", "SECRET "});
  PageOptions options;
  options.baseFolder = dir.PathOf("base");
  for (const Case& c : cases) {
    const std::string document = "<!-- template: " + c.entry + " -->";
    const std::string path = dir.PathOf("base") + Native("/") + Native(c.entry);
    options.allowOutsideBase = false;
    PageResult r = ConvertDocument(document, options);
    EXPECT_EQ(r.page, document) << c.entry;
    EXPECT_EQ(Lines(r.messages),
              (std::vector<std::string>{"Template File Not Find \"" + path + "\"",
                                        "tarvix: " + path + ": outside the base folder"}))
        << c.entry;
    ASSERT_EQ(r.messages.size(), 1u) << c.entry;
    EXPECT_EQ(r.messages[0].kind, MessageKind::TemplateMissing) << c.entry;
    EXPECT_EQ(r.messages[0].reason, "outside the base folder") << c.entry;
    options.allowOutsideBase = true;
    r = ConvertDocument(document, options);
    EXPECT_EQ(r.page, c.inside + document) << c.entry;
    EXPECT_TRUE(r.messages.empty()) << c.entry;
  }

  // Include entries alike; those inside are read, ".." that stays inside included.
  const std::vector<std::string> includes =
      links ? std::vector<std::string>{"../secret.md", "link.md"}
            : std::vector<std::string>{"../secret.md"};
  options.templateText = "[####KEYWORDS####]";
  for (const std::string& entry : includes) {
    const std::string document = "<!-- include: " + entry + " -->";
    const std::string path = dir.PathOf("base") + Native("/") + Native(entry);
    options.allowOutsideBase = false;
    PageResult r = ConvertDocument(document, options);
    EXPECT_EQ(r.page, "[]") << entry;
    EXPECT_EQ(Lines(r.messages),
              (std::vector<std::string>{"Include File Not Find \"" + path + "\"",
                                        "tarvix: " + path + ": outside the base folder"}))
        << entry;
    options.allowOutsideBase = true;
    EXPECT_EQ(ConvertDocument(document, options).page, "[SECRET]") << entry;
  }
  options.allowOutsideBase = false;
  const PageResult inside =
      ConvertDocument("<!--\ninclude: sub/../inc.md\ntemplate: ./sub/page.html\n-->", options);
  EXPECT_EQ(inside.page, "[K]<!--\ninclude: sub/../inc.md\ntemplate: ./sub/page.html\n-->");
  EXPECT_TRUE(inside.messages.empty());

  // The C interface: confined unless asked.
  const std::string base = dir.PathOf("base");
  tarvix_options c{};
  c.base_folder = base.c_str();
  const std::string document = "<!-- template: ../secret.html -->";
  tarvix_result r;
  ASSERT_EQ(tarvix_convert(document.data(), document.size(), &c, &r), TARVIX_OK);
  EXPECT_EQ(std::string(r.page, r.page_size), document);
  ASSERT_EQ(r.message_count, 1u);
  EXPECT_EQ(r.messages[0].kind, TARVIX_MESSAGE_TEMPLATE_MISSING);
  EXPECT_STREQ(r.messages[0].reason, "outside the base folder");
  tarvix_free(&r);
  c.allow_outside_base = 1;
  ASSERT_EQ(tarvix_convert(document.data(), document.size(), &c, &r), TARVIX_OK);
  EXPECT_EQ(std::string(r.page, r.page_size), "SECRET " + document);
  tarvix_free(&r);
}

TEST(LibraryBounds, EntriesSwappedForLinksOutsideAreNeverRead) {
  // The entry was checked by its resolved path and then opened again by name: while
  // base/swap.html flipped between a file and a link out of the folder, about one
  // conversion in 35 put the outside file into the page.
  ScopedTempDir dir;
  fs::create_directories(dir.PathOf("base"));
  dir.WriteFile("secret.html", "OUTSIDE ####BODY####");
  dir.WriteFile("secret.md", "<!-- keywords: OUTSIDE -->");
  std::error_code error;
  fs::create_symlink(dir.PathOf("secret.html"), dir.PathOf(Native("base/probe")), error);
  if (error)
    GTEST_SKIP() << "no symbolic links here";
  // Each flip renames a ready file or link onto the name, so that the name always exists.
  std::atomic<bool> done{false};
  std::thread flipper([&] {
    const std::string base = dir.PathOf("base") + Native("/");
    for (std::uint64_t i = 0; !done.load(); ++i) {
      std::error_code ignored;
      for (const char* name : {"swap.html", "swap.md"}) {
        const std::string ready = base + name + ".next";
        const bool link = i % 2 == 0;
        const std::string secret = std::string(name) == "swap.html" ? "secret.html" : "secret.md";
        if (link) {
          fs::create_symlink(dir.PathOf(secret), ready, ignored);
        } else {
          std::ofstream(ready, std::ios::binary)
              << (secret == "secret.html" ? "INSIDE ####BODY####" : "<!-- keywords: INSIDE -->");
        }
        fs::rename(ready, base + name, ignored);
      }
    }
  });
  PageOptions options;
  options.baseFolder = dir.PathOf("base");
  // On a loaded machine the flips may start late: the conversions go on, to a bound, until
  // both files were seen while they were files.
  constexpr int kConversions = 3000;
  constexpr int kMostConversions = 30000;
  int outside = 0;
  int insideTemplates = 0;
  int insideIncludes = 0;
  for (int i = 0;
       i < kConversions || ((insideTemplates == 0 || insideIncludes == 0) && i < kMostConversions);
       ++i) {
    options.templateText.reset();
    const PageResult page = ConvertDocument("<!-- template: swap.html -->", options);
    outside += page.page.find("OUTSIDE") != std::string::npos;
    insideTemplates += page.page.starts_with("INSIDE ");
    options.templateText = "[####KEYWORDS####]";
    const PageResult include = ConvertDocument("<!-- include: swap.md -->", options);
    outside += include.page.find("OUTSIDE") != std::string::npos;
    insideIncludes += include.page == "[INSIDE]";
  }
  done = true;
  flipper.join();
  EXPECT_EQ(outside, 0);
  // The flips were seen: some conversions read the file while it was one.
  EXPECT_GT(insideTemplates, 0);
  EXPECT_GT(insideIncludes, 0);
}

TEST(LibraryBounds, PagesPastTheBoundAreRefused) {
  // A 19 KB document whose header values hold placeholders made a 64 MB page through
  // 1.5 GB of copies; larger ones took the machine.
  const std::string bomb = "<!--\ntitle: " + Repeat("####KEYWORDS####", 100) +
                           "\nkeywords: " + Repeat("####DESCRIPTION####", 100) +
                           "\ndescription: " + Repeat("####ROOT####", 100) + "\n-->\n";
  PageOptions options;
  options.templateText = "<title>####TITLE####</title>";
  PageResult r = ConvertDocument(bomb, options);
  EXPECT_EQ(r.status, PageStatus::Ok);
  EXPECT_EQ(r.page, "<title>" + std::string(1000000, '.') + "</title>");

  // Past a lowered bound: nothing of the page, a message and the status. The body alone
  // and the table of contents count alike.
  struct Case {
    std::string templateText;
    std::string document;
    std::uint64_t bound;
  };
  const Case cases[] = {
      {"<title>####TITLE####</title>", bomb, 1000014},
      {"####BODY####", "abcdefgh", 8},
      {"####TOC####", Repeat("# a\n", 100), 1000},
  };
  for (const Case& c : cases) {
    options.templateText = c.templateText;
    options.maxPageSize = c.bound;
    r = ConvertDocument(c.document, options);
    EXPECT_EQ(r.status, PageStatus::PageTooLarge) << c.templateText;
    EXPECT_EQ(r.page, "") << c.templateText;
    EXPECT_EQ(Lines(r.messages), std::vector<std::string>{"Page too large"}) << c.templateText;
    options.maxPageSize = c.bound * 10;
    EXPECT_EQ(ConvertDocument(c.document, options).status, PageStatus::Ok) << c.templateText;
  }
  options = {};
  options.maxPageSize = 10;
  EXPECT_EQ(ConvertDocument("abc").status, PageStatus::Ok);
  EXPECT_EQ(ConvertDocument(Repeat("a", 20), options).status, PageStatus::PageTooLarge);

  // The C interface's code, and its bound: none given is the largest.
  tarvix_options c{};
  c.template_text = "<title>####TITLE####</title>";
  c.template_size = 28;
  c.max_page_size = 1000014;
  tarvix_result result;
  EXPECT_EQ(tarvix_convert(bomb.data(), bomb.size(), &c, &result), TARVIX_ERROR_PAGE_TOO_LARGE);
  EXPECT_EQ(result.page, nullptr);
  c.max_page_size = 0;
  ASSERT_EQ(tarvix_convert(bomb.data(), bomb.size(), &c, &result), TARVIX_OK);
  EXPECT_EQ(result.page_size, 1000015u);
  EXPECT_EQ(result.page[result.page_size], '\0');
  tarvix_free(&result);
}

TEST(LibraryBounds, DocumentsPastTheBoundAreRefusedUnread) {
  // A document larger than a 32-bit count was converted anyway. It is refused before a
  // byte of it is read: this one is a view of three bytes that claims 2 GiB, and the
  // address sanitizer would catch a read past them.
  const char bytes[] = "abc";
  const std::string_view huge(bytes, std::size_t{0x80000000});
  const PageResult r = ConvertDocument(huge);
  EXPECT_EQ(r.status, PageStatus::InputTooLarge);
  EXPECT_EQ(r.page, "");
  EXPECT_EQ(Lines(r.messages), std::vector<std::string>{"InputFile too large"});
  tarvix_result result;
  EXPECT_EQ(tarvix_convert(bytes, std::size_t{0x80000000}, nullptr, &result),
            TARVIX_ERROR_INPUT_TOO_LARGE);
  EXPECT_EQ(result.page, nullptr);
}

}  // namespace
}  // namespace tarvix
