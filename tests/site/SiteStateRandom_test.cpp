// The state file over many random states: each is written as its format says, read back
// the same, and no longer read once a byte or a line of it is changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "site/SiteState.h"

namespace tarvix {
namespace {

// The bytes of random texts: the four written escaped, the letters that follow a backslash
// in an escape, control bytes beside them and a UTF-8 letter.
constexpr char kAlphabet[] = "ab/. -\t\\\n\rtnr\x01\x0b\x0c\x0e\x1f\xc3\xa9\xff";

class RandomStates {
 public:
  explicit RandomStates(std::uint64_t seed) : rng_(seed) {}

  std::uint64_t Below(std::uint64_t bound) { return rng_() % bound; }
  bool Chance(int percent) { return Below(100) < static_cast<std::uint64_t>(percent); }

  std::string Text(std::size_t longest) {
    std::string text(Below(longest + 1), ' ');
    for (char& c : text)
      c = kAlphabet[Below(sizeof kAlphabet - 1)];
    // Now and then one long enough to be looked at eight bytes at a time, plain or not.
    if (Chance(10))
      text += std::string(Below(40), 'x') + (Chance(50) ? "\t" : "");
    return text;
  }
  std::string NonEmptyText(std::size_t longest) {
    std::string text = Text(longest);
    return text.empty() ? "z" : text;
  }

  std::uint64_t Number() {
    const std::uint64_t kEdges[] = {0,
                                    1,
                                    9,
                                    10,
                                    std::numeric_limits<std::uint64_t>::max(),
                                    std::uint64_t{1} << 63,
                                    9999999999999999999ull};
    return Chance(30) ? kEdges[Below(std::size(kEdges))] : rng_() >> Below(64);
  }

  platform::FileStamp Stamp() {
    if (Chance(20))
      return {};
    return {true, static_cast<std::int64_t>(Number()), Number()};
  }

  SiteInput File(bool identity) {
    SiteInput file{Text(20), Stamp()};
    if (identity && Chance(70)) {
      file.device = Number();
      file.inode = Number();
    }
    return file;
  }

  SiteState State() {
    SiteState state;
    state.program = Text(12);
    state.options = Text(30);
    state.finished = Chance(50);
    for (std::uint64_t n = Below(6); n > 0; --n) {
      SitePage page;
      page.document = Text(20);
      page.target = Text(20);
      page.page = Stamp();
      if (Chance(70)) {
        page.device = Number();
        page.inode = Number();
      }
      for (std::uint64_t k = Below(4); k > 0; --k)
        page.inputs.push_back(File(false));
      if (Chance(60))
        page.links = NonEmptyText(60);
      page.brushes = Chance(40);
      if (page.brushes) {
        const char* kScripts[] = {"shBrushCpp.js", "shBrushXml.js", "b.js"};
        for (std::uint64_t k = Below(4); k > 0; --k)
          page.brushScripts.push_back(kScripts[Below(3)]);
      }
      if (Chance(60))
        page.navigation = Text(16);
      if (Chance(60))
        page.title = Text(20);
      state.pages.push_back(page);
    }
    for (std::uint64_t n = Below(4); n > 0; --n)
      state.copies.push_back(File(true));
    for (std::uint64_t n = Below(3); n > 0; --n)
      state.made.push_back(File(true));
    for (std::uint64_t n = Below(4); n > 0; --n)
      state.folders.push_back(Text(20));
    for (std::uint64_t n = Below(4); n > 0; --n) {
      SiteListing listing{Text(20), static_cast<std::int64_t>(Number()), Number(), Number(), {}};
      for (std::uint64_t k = Below(5); k > 0; --k) {
        // A link's kind is not kept, so a link is written with none.
        const std::uint64_t what = Below(3);
        listing.entries.push_back({NonEmptyText(12),
                                   what == 0   ? platform::EntryKind::File
                                   : what == 1 ? platform::EntryKind::Folder
                                               : platform::EntryKind::Other,
                                   what == 2});
      }
      state.listings.push_back(listing);
    }
    return state;
  }

 private:
  std::mt19937_64 rng_;
};

// The format as SiteState.h gives it, written the plain way.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

std::string StampFields(const platform::FileStamp& stamp) {
  return stamp.exists ? std::to_string(stamp.time) + "\t" + std::to_string(stamp.size) : "-\t-";
}

std::string IdentityFields(std::uint64_t device, std::uint64_t inode) {
  return device == 0 && inode == 0 ? ""
                                   : "\t" + std::to_string(device) + "\t" + std::to_string(inode);
}

std::string ReferenceBody(const SiteState& state) {
  std::string out = "tarvix-site 3\nprogram\t" + Escaped(state.program) + "\noptions\t" +
                    Escaped(state.options) + "\nrun\t" + (state.finished ? "finished" : "going") +
                    "\n";
  for (const SitePage& page : state.pages) {
    out += "page\t" + Escaped(page.document) + "\t" + Escaped(page.target) + "\t" +
           StampFields(page.page) + IdentityFields(page.device, page.inode) + "\n";
    for (const SiteInput& input : page.inputs)
      out += "input\t" + StampFields(input.stamp) + "\t" + Escaped(input.path) + "\n";
    if (!page.links.empty())
      out += "links\t" + Escaped(page.links) + "\n";
    if (page.brushes || !page.navigation.empty() || !page.title.empty()) {
      out += page.brushes ? "about\tb" : "about\t-";
      for (std::size_t k = 0; k < page.brushScripts.size(); ++k)
        out += (k == 0 ? ":" : ",") + page.brushScripts[k];
      out += "\t" + Escaped(page.navigation) + "\t" + Escaped(page.title) + "\n";
    }
  }
  for (const auto& [kind, files] : {std::pair{"copy\t", &state.copies}, {"made\t", &state.made}}) {
    for (const SiteInput& file : *files)
      out += kind + StampFields(file.stamp) + "\t" + Escaped(file.path) +
             IdentityFields(file.device, file.inode) + "\n";
  }
  for (const std::string& folder : state.folders)
    out += "folder\t" + Escaped(folder) + "\n";
  for (const SiteListing& listing : state.listings) {
    out += "listing\t" + std::to_string(listing.changeTime) + "\t" +
           std::to_string(listing.device) + "\t" + std::to_string(listing.inode) + "\t" +
           Escaped(listing.folder);
    for (const platform::FolderEntry& entry : listing.entries) {
      out += entry.link ? "\tl" : entry.kind == platform::EntryKind::Folder ? "\td" : "\tf";
      out += Escaped(entry.name);
    }
    out += "\n";
  }
  return out;
}

// Every field of a state, each text with its length, so that two states compare whole.
std::string Described(const SiteState& state) {
  std::string out;
  const auto text = [&out](const std::string& value) {
    out += std::to_string(value.size()) + ":" + value + ";";
  };
  const auto number = [&out](auto value) { out += std::to_string(value) + ";"; };
  const auto file = [&](const SiteInput& f) {
    text(f.path);
    number(f.stamp.exists);
    number(f.stamp.time);
    number(f.stamp.size);
    number(f.device);
    number(f.inode);
  };
  text(state.program);
  text(state.options);
  number(state.finished);
  for (const SitePage& page : state.pages) {
    out += "\npage ";
    text(page.document);
    text(page.target);
    number(page.page.exists);
    number(page.page.time);
    number(page.page.size);
    number(page.device);
    number(page.inode);
    for (const SiteInput& input : page.inputs)
      file(input);
    text(page.links);
    text(page.title);
    text(page.navigation);
    number(page.brushes);
    for (const std::string& script : page.brushScripts)
      text(script);
  }
  out += "\ncopies ";
  for (const SiteInput& copy : state.copies)
    file(copy);
  out += "\nmade ";
  for (const SiteInput& made : state.made)
    file(made);
  out += "\nfolders ";
  for (const std::string& folder : state.folders)
    text(folder);
  for (const SiteListing& listing : state.listings) {
    out += "\nlisting ";
    text(listing.folder);
    number(listing.changeTime);
    number(listing.device);
    number(listing.inode);
    for (const platform::FolderEntry& entry : listing.entries) {
      text(entry.name);
      number(static_cast<int>(entry.kind));
      number(entry.link);
    }
  }
  return out;
}

// The lines of `text`, each with its line feed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end + 1 - from));
    from = end + 1;
  }
  return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line;
  return text;
}

TEST(SiteStateRandom, WritesTheFormatAndReadsItBack) {
  RandomStates random(20240611);
  for (int round = 0; round < 400; ++round) {
    const SiteState state = random.State();
    const std::string text = FormatSiteState(state, round % 2 == 0 ? 0 : 64);
    const std::string body = ReferenceBody(state);
    ASSERT_EQ(text.substr(0, body.size()), body) << "round " << round;
    // The check line: the lines above it, and a sum of 16 hexadecimal digits.
    const std::string counted = "check\t" + std::to_string(Lines(body).size()) + "\t";
    ASSERT_EQ(text.substr(body.size(), counted.size()), counted) << "round " << round;
    const std::string sum = text.substr(body.size() + counted.size());
    ASSERT_EQ(sum.size(), 17u) << "round " << round;
    EXPECT_EQ(sum.find_first_not_of("0123456789abcdef"), 16u) << sum;
    EXPECT_EQ(sum.back(), '\n');

    SiteState back;
    ASSERT_EQ(ParseSiteState(text, &back), StateRead::kRead) << "round " << round;
    ASSERT_EQ(Described(back), Described(state)) << "round " << round;
  }
}

// A rerun asks whether the state it would write is the text it read, without writing it
// out: states of many pieces, the same or changed anywhere, and a text whose check line
// is not its own.
TEST(SiteStateRandom, UnchangedStateIsFoundWithoutItsText) {
  RandomStates random(99);
  for (int round = 0; round < 12; ++round) {
    SiteState state = random.State();
    while (FormatSiteState(state).size() < 300 * 1024) {
      SiteState more = random.State();
      state.pages.insert(state.pages.end(), more.pages.begin(), more.pages.end());
      state.copies.insert(state.copies.end(), more.copies.begin(), more.copies.end());
      state.listings.insert(state.listings.end(), more.listings.begin(), more.listings.end());
    }
    const std::string text = FormatSiteState(state);
    ASSERT_TRUE(IsTextOf(state, text)) << "round " << round;
    EXPECT_FALSE(IsTextOf(state, text.substr(0, text.size() - 1)));
    EXPECT_FALSE(IsTextOf(state, ""));
    std::string otherSum = text;
    otherSum[otherSum.size() - 2] = otherSum[otherSum.size() - 2] == '0' ? '1' : '0';
    EXPECT_FALSE(IsTextOf(state, otherSum));

    // One change at the start, in the middle or at the end of the records.
    ASSERT_FALSE(state.pages.empty());
    ASSERT_FALSE(state.listings.empty());
    SiteState changed = state;
    const std::size_t at = round % 3 == 0   ? 0
                           : round % 3 == 1 ? changed.pages.size() / 2
                                            : changed.pages.size() - 1;
    changed.pages[at].title += "x";
    EXPECT_FALSE(IsTextOf(changed, text)) << "round " << round << " page " << at;
    changed = state;
    changed.listings.pop_back();
    EXPECT_FALSE(IsTextOf(changed, text)) << "round " << round;
    changed = state;
    changed.finished = !changed.finished;
    EXPECT_FALSE(IsTextOf(changed, text)) << "round " << round;
  }
}

// A state changed in any way but through the program is not taken for what it wrote: one
// byte of a record, a line cut out, the file cut short, two lines swapped.
TEST(SiteStateRandom, ChangedStatesAreDamaged) {
  RandomStates random(7);
  int changes = 0;
  for (int round = 0; round < 300; ++round) {
    const std::string text = FormatSiteState(random.State());
    const std::vector<std::string> lines = Lines(text);
    const std::size_t records = lines[0].size();  // where the records start
    std::vector<std::string> damaged;

    // A byte of a record: the check line has its own cases (a letter of its sum may change
    // case and mean the same).
    std::string flipped = text;
    const std::size_t checkStart = text.size() - lines.back().size();
    const std::size_t at = records + random.Below(checkStart - records);
    flipped[at] = static_cast<char>(flipped[at] ^ (1 + random.Below(255)));
    damaged.push_back(flipped);

    // Past the first line, which otherwise tells another format.
    damaged.push_back(text.substr(0, records + random.Below(text.size() - records)));

    // The lines between the first and the check.
    if (lines.size() > 3) {
      const std::size_t first = 1 + random.Below(lines.size() - 2);
      const std::size_t second = 1 + random.Below(lines.size() - 2);
      std::vector<std::string> cut = lines;
      cut.erase(cut.begin() + static_cast<std::ptrdiff_t>(first));
      damaged.push_back(Joined(cut));
      if (lines[first] != lines[second]) {
        std::vector<std::string> swapped = lines;
        std::swap(swapped[first], swapped[second]);
        damaged.push_back(Joined(swapped));
      }
    }
    for (const std::string& changed : damaged) {
      SiteState state;
      state.program = "untouched";
      EXPECT_EQ(ParseSiteState(changed, &state), StateRead::kDamaged) << "round " << round << "\n"
                                                                      << changed;
      EXPECT_EQ(state.program, "untouched");
      ++changes;
    }
  }
  EXPECT_GE(changes, 900);
}

// A state large enough to be written as news: random states added up.
SiteState LargeState(RandomStates& random, std::size_t bytes) {
  SiteState state = random.State();
  while (FormatSiteState(state).size() < bytes) {
    SiteState more = random.State();
    state.pages.insert(state.pages.end(), more.pages.begin(), more.pages.end());
    state.copies.insert(state.copies.end(), more.copies.begin(), more.copies.end());
    state.folders.insert(state.folders.end(), more.folders.begin(), more.folders.end());
    state.listings.insert(state.listings.end(), more.listings.begin(), more.listings.end());
  }
  return state;
}

// What runs do to a state between two writes: pages made again, added and gone, a record
// moved, copies and listings changed, the run finished or not.
SiteState Changed(RandomStates& random, SiteState state) {
  for (std::uint64_t n = random.Below(6); n > 0; --n) {
    const std::uint64_t what = random.Below(8);
    const auto at = [&](std::size_t size) {
      return static_cast<std::ptrdiff_t>(random.Below(size));
    };
    if (what == 0 && !state.pages.empty()) {
      platform::FileStamp& stamp =
          state.pages[static_cast<std::size_t>(at(state.pages.size()))].page;
      stamp = {true, stamp.time + 1, stamp.size};
    } else if (what == 1 && !state.pages.empty()) {
      state.pages.erase(state.pages.begin() + at(state.pages.size()));
    } else if (what == 2) {
      SiteState more = random.State();
      state.pages.insert(state.pages.begin() + at(state.pages.size() + 1), more.pages.begin(),
                         more.pages.end());
    } else if (what == 3 && state.pages.size() > 2) {
      // A record moved: where it was, and where it is now, the base's order is broken.
      const std::size_t from = static_cast<std::size_t>(at(state.pages.size()));
      SitePage page = state.pages[from];
      state.pages.erase(state.pages.begin() + static_cast<std::ptrdiff_t>(from));
      state.pages.insert(state.pages.begin() + at(state.pages.size() + 1), page);
    } else if (what == 4 && !state.copies.empty()) {
      state.copies[static_cast<std::size_t>(at(state.copies.size()))] = random.File(true);
    } else if (what == 5 && !state.listings.empty()) {
      state.listings.erase(state.listings.begin() + at(state.listings.size()));
    } else if (what == 6) {
      state.finished = !state.finished;
    } else if (what == 7) {
      state.made.push_back(random.File(true));
    }
  }
  return state;
}

// News of a state: whatever changed since the base was written whole, the news and the base
// read together give the new state exactly, and an unchanged state is told as such.
TEST(SiteStateRandom, NewsAndItsBaseMakeTheNewState) {
  RandomStates random(31);
  for (int round = 0; round < 40; ++round) {
    const SiteState base = LargeState(random, 8 * 1024 + random.Below(64 * 1024));
    const std::string baseText = FormatSiteState(base);
    std::string news;
    bool same = false;
    ASSERT_TRUE(FormatSiteNews(base, baseText, SIZE_MAX, &news, &same));
    EXPECT_TRUE(same);
    EXPECT_LT(news.size(), 200u);

    SiteState state = base;
    for (int step = 0; step < 4; ++step) {
      state = Changed(random, std::move(state));
      ASSERT_TRUE(FormatSiteNews(state, baseText, SIZE_MAX, &news, &same)) << round;
      EXPECT_EQ(same, FormatSiteState(state) == baseText) << round;
      SiteState back;
      bool taken = false;
      ASSERT_EQ(ParseSiteState(baseText, &back, news, &taken), StateRead::kRead)
          << "round " << round << " step " << step << "\n"
          << news;
      EXPECT_TRUE(taken);
      ASSERT_EQ(Described(back), Described(state)) << "round " << round << " step " << step;
    }
    // Every record out of step with the base: the pages in the other order.
    SiteState reversed = base;
    std::reverse(reversed.pages.begin(), reversed.pages.end());
    ASSERT_TRUE(FormatSiteNews(reversed, baseText, SIZE_MAX, &news, &same));
    SiteState back;
    ASSERT_EQ(ParseSiteState(baseText, &back, news), StateRead::kRead) << round;
    ASSERT_EQ(Described(back), Described(reversed)) << round;
    ASSERT_TRUE(FormatSiteNews(state, baseText, SIZE_MAX, &news, &same)) << round;

    // A few changes to a large state make small news; past its limit there is none.
    if (news.size() > 64) {
      EXPECT_FALSE(FormatSiteNews(state, baseText, news.size() / 2, &news, &same));
    }
  }
}

// News is input like the state: changed in any way, or made by hand to reach outside the
// base or go back in it, it is damage; news of another state or version is left out.
TEST(SiteStateRandom, NewsChangedOrForgedIsDamaged) {
  RandomStates random(5);
  const SiteState base = LargeState(random, 16 * 1024);
  const std::string baseText = FormatSiteState(base);
  const std::string baseLine = baseText.substr(baseText.rfind('\n', baseText.size() - 2) + 7);
  const std::size_t bodyBytes = baseText.size() - baseLine.size() - 6;
  SiteState state = base;
  state.pages[state.pages.size() / 2].title += "changed";
  std::string news;
  bool same = true;
  ASSERT_TRUE(FormatSiteNews(state, baseText, SIZE_MAX, &news, &same));
  ASSERT_FALSE(same);

  for (int round = 0; round < 200; ++round) {
    std::string flipped = news;
    const std::size_t at = random.Below(news.size());
    flipped[at] = static_cast<char>(flipped[at] ^ (1 + random.Below(255)));
    SiteState back;
    const StateRead read = ParseSiteState(baseText, &back, flipped);
    // A byte of the first two lines makes it news of no state of ours; the sum's letters
    // may change case and mean the same.
    if (read == StateRead::kRead)
      EXPECT_TRUE(at <= news.find('\n', news.find('\n') + 1) || at >= news.size() - 17) << at;
    else
      EXPECT_EQ(read, StateRead::kNewsDamaged) << at;
  }
  SiteState back;
  EXPECT_EQ(ParseSiteState(baseText, &back, news.substr(0, news.size() - 3)),
            StateRead::kNewsDamaged);

  // News of the state as it was before it was written whole again, and of a later version.
  bool taken = true;
  ASSERT_EQ(ParseSiteState(FormatSiteState(state), &back, news, &taken), StateRead::kRead);
  EXPECT_FALSE(taken);
  EXPECT_EQ(Described(back), Described(state));
  std::string later = news;
  later.replace(0, 13, "tarvix-news 4");
  ASSERT_EQ(ParseSiteState(baseText, &back, later, &taken), StateRead::kRead);
  EXPECT_FALSE(taken);
  EXPECT_EQ(Described(back), Described(base));

  // Hand-made news, vouched for by a check line of its own.
  const std::string head = "tarvix-news 3\nbase\t" + baseLine;
  const std::string firstLine = "tarvix-site 3\n";
  const std::size_t second = baseText.find('\n', firstLine.size()) + 1;
  const std::string all = std::to_string(bodyBytes);
  const std::string forged[] = {
      "keep\t0\t" + std::to_string(bodyBytes + 1) + "\n",       // past the base
      "keep\t0\t" + all + "\nkeep\t0\t" + all + "\n",           // back in it
      "keep\t0\t" + std::to_string(second - 1) + "\n",          // not whole lines
      "keep\t0\t" + std::to_string(second) + "\nkeep\t1\t3\n",  // not at a line
      "keep\t0\t0\n",                                           // nothing
      "text\t9\nprogram\tx\n",                                  // past the news
      "text\t5\nprogram\tx\n",                                  // half a line
      "keep\t" + std::to_string(second) + "\t" + std::to_string(bodyBytes - second) + "\n",
      "",                                               // no records
      "keep\t0\t" + all + "\nlisting\t1\n",             // a record of the base
      "keep\t0\t" + all + "\ntext\t10\ncheck\t1\t0\n",  // a check inside
  };
  for (const std::string& records : forged) {
    EXPECT_EQ(ParseSiteState(baseText, &back, WithCheckLine(head + records)),
              StateRead::kNewsDamaged)
        << records;
  }
  EXPECT_EQ(ParseSiteState(baseText, &back, WithCheckLine(head + "keep\t0\t" + all + "\n")),
            StateRead::kRead);
  EXPECT_EQ(Described(back), Described(base));
}

// The numbers of a record are read as they are written and no other way: the widest of
// each type, and nothing past it, no plus and no blank.
TEST(SiteStateRandom, NumbersAtTheirLimits) {
  struct Case {
    const char* time;
    const char* size;
    bool read;
    std::int64_t readTime;
    std::uint64_t readSize;
  };
  const Case cases[] = {
      {"0", "0", true, 0, 0},
      {"007", "0010", true, 7, 10},
      {"-0", "1", true, 0, 1},
      {"-9223372036854775808", "18446744073709551615", true,
       std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max()},
      {"9223372036854775807", "9999999999999999999", true, std::numeric_limits<std::int64_t>::max(),
       9999999999999999999ull},
      {"000000000000000000000042", "00000000000000000000007", true, 42, 7},
      {"-000000000000000000000042", "1", true, -42, 1},
      {"9223372036854775808", "1", false, 0, 0},
      {"-9223372036854775809", "1", false, 0, 0},
      {"1", "18446744073709551616", false, 0, 0},
      {"1", "99999999999999999999", false, 0, 0},
      {"1", "-1", false, 0, 0},
      {"+1", "1", false, 0, 0},
      {"1", "1 ", false, 0, 0},
      {"-", "1", false, 0, 0},
      {"1", "", false, 0, 0},
      {"1x", "1", false, 0, 0},
      {"1", "0x1", false, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string body = "tarvix-site 3\nprogram\tp\noptions\to\nrun\tgoing\npage\ta\tb\t" +
                             std::string(c.time) + "\t" + c.size + "\n";
    SiteState state;
    ASSERT_EQ(ParseSiteState(WithCheckLine(body), &state),
              c.read ? StateRead::kRead : StateRead::kDamaged)
        << c.time << " " << c.size;
    if (c.read) {
      EXPECT_EQ(state.pages[0].page, (platform::FileStamp{true, c.readTime, c.readSize}))
          << c.time << " " << c.size;
    }
  }
}

}  // namespace
}  // namespace tarvix
