// The state file of a site run: what is written is read back the same, and anything else
// is not trusted.
#include "site/SiteState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvix {
namespace {

SiteState TwoPages() {
  SiteState state;
  state.program = "0.1.0 abc";
  state.options = "source\t../site\n-root\n.\\x\r";
  state.finished = true;
  state.pages.push_back({"a b.md",
                         "a b.html",
                         {true, 7, 99},
                         {{"../site/a b.md", {true, -5, 12}}, {"../site/t\\p.html", {}}},
                         {}});
  state.pages.push_back(
      {"c.md", "c.html", {}, {{"../site/c.md", {true, 1700000000123456789, 0}}}, {}});
  return state;
}

TEST(SiteState, RoundTripsWhatTheNavigationAndTheHighlighterNeed) {
  SiteState state = TwoPages();
  state.pages[0].title = "A\ttab &amp; more";
  state.pages[0].navigation = "0123456789abcdef";
  state.pages[0].brushes = true;
  state.pages[1].title = "C";
  const std::string text = FormatSiteState(state);
  EXPECT_NE(text.find("input\t-\t-\t../site/t\\\\p.html\nabout\tb\t0123456789abcdef\tA\\ttab "
                      "&amp; more\npage\t"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("../site/c.md\nabout\t-\t\tC\n"), std::string::npos) << text;
  SiteState back;
  ASSERT_EQ(ParseSiteState(text, &back), StateRead::kRead);
  ASSERT_EQ(back.pages.size(), 2u);
  EXPECT_EQ(back.pages[0].title, "A\ttab &amp; more");
  EXPECT_EQ(back.pages[0].navigation, "0123456789abcdef");
  EXPECT_TRUE(back.pages[0].brushes);
  EXPECT_EQ(back.pages[1].title, "C");
  EXPECT_FALSE(back.pages[1].brushes);
  // An "about" line before any page, or with a flag we do not write, is no state of ours.
  const std::string stray = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tfinished\nabout\tb\t\t\n";
  EXPECT_EQ(ParseSiteState(WithCheckLine(stray), &back), StateRead::kDamaged);

  // The brushes' scripts a page loads, so that its folder gets only those.
  state.pages[1].brushes = true;
  state.pages[1].brushScripts = {"shBrushCpp.js", "shBrushXml.js"};
  const std::string scripts = FormatSiteState(state);
  EXPECT_NE(scripts.find("about\tb:shBrushCpp.js,shBrushXml.js\t\tC\n"), std::string::npos)
      << scripts;
  ASSERT_EQ(ParseSiteState(scripts, &back), StateRead::kRead);
  EXPECT_EQ(back.pages[1].brushScripts, (std::vector<std::string>{"shBrushCpp.js", "shBrushXml.js"}));
  EXPECT_TRUE(back.pages[0].brushScripts.empty());
  const std::string empty = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tfinished\npage\ta.md\ta.html\t-\t-\nabout\tb:,x\t\t\n";
  EXPECT_EQ(ParseSiteState(WithCheckLine(empty), &back), StateRead::kDamaged);
}

TEST(SiteState, RoundTripsOddNamesAndMissingFiles) {
  const std::string text = FormatSiteState(TwoPages());
  const std::string body =
      "tarvix-site 3\n"
      "program\t0.1.0 abc\n"
      "options\tsource\\t../site\\n-root\\n.\\\\x\\r\n"
      "run\tfinished\n"
      "page\ta b.md\ta b.html\t7\t99\n"
      "input\t-5\t12\t../site/a b.md\n"
      "input\t-\t-\t../site/t\\\\p.html\n"
      "page\tc.md\tc.html\t-\t-\n"
      "input\t1700000000123456789\t0\t../site/c.md\n";
  ASSERT_EQ(text.substr(0, body.size()), body);
  // The check line counts the nine lines above and sums their bytes.
  EXPECT_EQ(text.substr(body.size(), 8), "check\t9\t");
  EXPECT_EQ(text.size(), body.size() + 8 + 16 + 1);
  SiteState back;
  ASSERT_EQ(ParseSiteState(text, &back), StateRead::kRead);
  EXPECT_EQ(back.program, "0.1.0 abc");
  EXPECT_EQ(back.options, TwoPages().options);
  EXPECT_TRUE(back.finished);
  ASSERT_EQ(back.pages.size(), 2u);
  EXPECT_EQ(back.pages[0].document, "a b.md");
  EXPECT_EQ(back.pages[0].target, "a b.html");
  EXPECT_EQ(back.pages[0].page, (platform::FileStamp{true, 7, 99}));
  ASSERT_EQ(back.pages[0].inputs.size(), 2u);
  EXPECT_EQ(back.pages[0].inputs[0].stamp, (platform::FileStamp{true, -5, 12}));
  EXPECT_EQ(back.pages[0].inputs[1].path, "../site/t\\p.html");
  EXPECT_FALSE(back.pages[0].inputs[1].stamp.exists);
  EXPECT_FALSE(back.pages[1].page.exists);
  EXPECT_EQ(back.pages[1].inputs[0].stamp.time, 1700000000123456789);
  EXPECT_EQ(FormatSiteState(back), text);
}

// A page's links, the copies and the folders come back as written, each where it belongs; a
// links record before any page, or a copy or folder record short of its fields, is damage.
TEST(SiteState, KeepsLinksCopiesAndFolders) {
  SiteState state = TwoPages();
  state.pages[1].links = "links 1 1 0 x";
  state.copies = {{"img/p n.svg", {true, 3, 4}}, {"gone\\c.txt", {}}};
  state.folders = {"img", "a\tb"};
  const std::string text = FormatSiteState(state);
  EXPECT_NE(text.find("input\t1700000000123456789\t0\t../site/c.md\nlinks\tlinks 1 1 0 x\n"
                      "copy\t3\t4\timg/p n.svg\ncopy\t-\t-\tgone\\\\c.txt\n"
                      "folder\timg\nfolder\ta\\tb\ncheck\t"),
            std::string::npos)
      << text;
  SiteState back;
  ASSERT_EQ(ParseSiteState(text, &back), StateRead::kRead);
  EXPECT_EQ(back.pages[0].links, "");
  EXPECT_EQ(back.pages[1].links, "links 1 1 0 x");
  ASSERT_EQ(back.copies.size(), 2u);
  EXPECT_EQ(back.copies[0].path, "img/p n.svg");
  EXPECT_EQ(back.copies[0].stamp, (platform::FileStamp{true, 3, 4}));
  EXPECT_FALSE(back.copies[1].stamp.exists);
  EXPECT_EQ(back.copies[1].path, "gone\\c.txt");
  EXPECT_EQ(back.folders, (std::vector<std::string>{"img", "a\tb"}));
  EXPECT_EQ(FormatSiteState(back), text);

  const std::string head = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tfinished\n";
  for (const std::string& damaged :
       {head + "links\tlinks 1 0 0\n", head + "copy\t1\t2\n", head + "copy\tx\t2\ta\n",
        head + "folder\n", head + "folder\ta\\q\n"}) {
    SiteState read;
    EXPECT_EQ(ParseSiteState(WithCheckLine(damaged), &read), StateRead::kDamaged) << damaged;
  }
}

// A folder's listing stands in for listing it again: every name must come back as it was,
// with what it is, and a listing that does not read cleanly must not be trusted.
TEST(SiteState, KeepsFolderListings) {
  SiteState state = TwoPages();
  using platform::EntryKind;
  state.listings.push_back({"",
                            5,
                            2049,
                            77,
                            {{"a b.md", EntryKind::File, false},
                             {"sub", EntryKind::Folder, false},
                             {"t\tab\there", EntryKind::File, false},
                             {"to-elsewhere", EntryKind::Folder, true}}});
  state.listings.push_back({"sub\tx", -1, 0, 1, {}});
  const std::string text = FormatSiteState(state);
  EXPECT_NE(text.find("listing\t5\t2049\t77\t\tfa b.md\tdsub\tft\\tab\\there\tlto-elsewhere\n"
                      "listing\t-1\t0\t1\tsub\\tx\n"),
            std::string::npos)
      << text;
  SiteState back;
  ASSERT_EQ(ParseSiteState(text, &back), StateRead::kRead);
  ASSERT_EQ(back.listings.size(), 2u);
  EXPECT_EQ(back.listings[0].folder, "");
  EXPECT_EQ(back.listings[0].changeTime, 5);
  EXPECT_EQ(back.listings[0].device, 2049u);
  EXPECT_EQ(back.listings[0].inode, 77u);
  ASSERT_EQ(back.listings[0].entries.size(), 4u);
  EXPECT_EQ(back.listings[0].entries[2].name, "t\tab\there");
  EXPECT_EQ(back.listings[0].entries[1].kind, EntryKind::Folder);
  EXPECT_FALSE(back.listings[0].entries[1].link);
  // A link's kind is not kept: what it leads to is looked at on every walk.
  EXPECT_TRUE(back.listings[0].entries[3].link);
  EXPECT_EQ(back.listings[0].entries[3].kind, EntryKind::Other);
  EXPECT_EQ(back.listings[1].folder, "sub\tx");
  EXPECT_TRUE(back.listings[1].entries.empty());
  EXPECT_EQ(FormatSiteState(back), text);

  const std::string head = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tfinished\n";
  for (const std::string& damaged :
       {head + "listing\t1\t2\t3\n", head + "listing\tx\t2\t3\ta\n",
        head + "listing\t1\t2\t3\ta\t\n", head + "listing\t1\t2\t3\ta\tf\n",
        head + "listing\t1\t2\t3\ta\tqname\n", head + "listing\t1\t2\t3\ta\tfn\\q\n"}) {
    SiteState read;
    EXPECT_EQ(ParseSiteState(WithCheckLine(damaged), &read), StateRead::kDamaged) << damaged;
  }
}

// The state a damaged file would give must never be taken for the state written: a record
// cut at a line end once dropped a page's inputs and left its page stale.
TEST(SiteState, DamagedFilesAreRefusedWhole) {
  const std::string text = FormatSiteState(TwoPages());
  const std::size_t checkLine = text.rfind("check");
  const std::size_t secondInput = text.find("input\t-\t-");
  std::string flipped = text;
  flipped[text.find("99")] = '8';
  std::string otherSum = text;
  otherSum[otherSum.size() - 2] = otherSum[otherSum.size() - 2] == '0' ? '1' : '0';
  const std::string cases[] = {
      text.substr(0, secondInput) + text.substr(checkLine),  // a line cut out
      text.substr(0, secondInput),                           // cut at a line end
      text.substr(0, text.size() - 1),                       // cut inside the check
      text.substr(0, text.size() - 1) + "0\n",               // the sum longer
      flipped,                                               // a byte changed
      otherSum,                                              // the sum changed
      text.substr(0, checkLine) + "check\t8" + text.substr(checkLine + 7),
      text + "page\tx.md\tx.html\t1\t2\n",  // a line after the check
      "tarvix-site 3\n",
      "tarvix-site 3\ncheck\t1\t0\n",
  };
  for (const std::string& damaged : cases) {
    SiteState state;
    state.program = "untouched";
    EXPECT_EQ(ParseSiteState(damaged, &state), StateRead::kDamaged) << damaged;
    EXPECT_EQ(state.program, "untouched");
  }
  // Not ours, or another format's: a full run without a word. The version-2 file is whole,
  // as the program before this format wrote it, check line and all.
  for (const char* other :
       {"", "\n", "tarvix-site 1\noptions\tx\n",
        "tarvix-site 2\nprogram\tp\noptions\to\nrun\tfinished\ncheck\t4\t4ff4e93ed83d3006\n",
        "tarvix-site 4\n", "<html>\n", "tarvix-site 3"}) {
    SiteState state;
    EXPECT_EQ(ParseSiteState(other, &state), StateRead::kOther) << other;
  }
}

// Records are vouched for by the check, then read strictly; kinds a later program adds, and
// fields after those we know, are skipped.
TEST(SiteState, RecordsAreReadStrictlyButKindsMayBeAdded) {
  const std::string head = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tgoing\n";
  const std::string refused[] = {
      "tarvix-site 3\nprogram\tp\noptions\to\n",              // no run record
      "tarvix-site 3\nprogram\tp\nrun\tgoing\n",              // no options
      head + "input\t1\t2\tp\n",                              // an input before any page
      head + "page\ta\tb\t1\t2\ninput\t1\tp\n",               // a field missing
      head + "page\ta\tb\t1\t2\ninput\t1x\t2\tp\n",           // not a number
      head + "page\ta\tb\t1\n",                               // a page without its stamp
      head + "page\ta\\q\tb\t1\t2\n",                         // an unknown escape
      head + "run\tgoing\n",                                  // twice
      head + "check\t1\t0\n",                                 // a check inside
      "tarvix-site 3\nprogram\tp\noptions\to\nrun\tmaybe\n",  // neither state
  };
  for (const std::string& body : refused) {
    SiteState state;
    EXPECT_EQ(ParseSiteState(WithCheckLine(body), &state), StateRead::kDamaged) << body;
  }
  SiteState state;
  ASSERT_EQ(ParseSiteState(WithCheckLine(head + "later\tx\npage\ta.md\ta.html\t1\t2\tmore\n"
                                                "input\t3\t4\tp\tmore\nlater\n"),
                           &state),
            StateRead::kRead);
  EXPECT_FALSE(state.finished);
  ASSERT_EQ(state.pages.size(), 1u);
  EXPECT_EQ(state.pages[0].page, (platform::FileStamp{true, 1, 2}));
  ASSERT_EQ(state.pages[0].inputs.size(), 1u);
  EXPECT_EQ(state.pages[0].inputs[0].path, "p");
}

TEST(SiteState, PathRelativeToFolder) {
  struct Case {
    const char* from;
    const char* to;
    const char* relative;
  };
  const Case cases[] = {
      {"/w/out", "/w/out/a.html", "a.html"},
      {"/w/out", "/w/site/a.md", "../site/a.md"},
      {"/w/out/x", "/w/site", "../../site"},
      {"/w/out", "/w/out", "."},
      {"/", "/a/b", "a/b"},
      {"/w/out", "/", "../.."},
      {"/w/outer", "/w/out/a", "../out/a"},
      {"C:/out", "D:/site/a.md", "D:/site/a.md"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PathRelativeTo(c.from, c.to, '/'), c.relative) << c.from << " -> " << c.to;
}

}  // namespace
}  // namespace tarvix
