// The link check: pages read as a browser reads them, links resolved below the output
// folder, broken ones reported once, and the record that carries a page between runs.
#include "site/LinkCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/Convert.h"

namespace tarvix {
namespace {

using Strings = std::vector<std::string>;

TEST(LinkScan, ReadsAttributesAsABrowserDoes) {
  struct Case {
    const char* html;
    Strings ids;
    Strings links;
  };
  const Case cases[] = {
      // Quotes of both kinds, no quotes, blanks around '=' and upper-case names.
      {"<a href=\"a.html\" ID='x y'><img SRC = b.png alt=c><p id=z>",
       {"x y", "z"},
       {"a.html", "b.png"}},
      // Blanks at either end are dropped from addresses, kept in ids; tabs and line ends
      // inside an address are dropped.
      {"<a href=\" deep/more.html\" id=\" s \"><img src=\"p.png \"><a href=\"a\tb\n.html\">",
       {" s "},
       {"deep/more.html", "p.png", "ab.html"}},
      // Character references: the ones the converter writes, numeric ones, common names,
      // and an old name without ';' that stays before '='.
      {"<a href=\"a.html?x=1&amp;y=2&copy=3\" id=\"&lt;&gt;&quot;&apos;&#39;&yen;\">"
       "<a href=\"&#x41;&#66;&eacute;&hellip;&#150;&#0;&#x110000;.html\">"
       "<a href=\"&nosuch;&amp\">",
       {"<>\"''\xC2\xA5"},
       {"a.html?x=1&y=2&copy=3", "AB\xC3\xA9\xE2\x80\xA6\xE2\x80\x93\xEF\xBF\xBD\xEF\xBF\xBD.html",
        "&nosuch;&"}},
      // Schemes and paths from the root are not ours to check; empty addresses are the
      // page itself.
      {"<a href=\"http://x\"><a href=\"MailTo:a@b\"><a href=\"javascript:void(0)\">"
       "<a href=\"/top.html\"><a href=\"//cdn/x.js\"><a href=\"\\x.html\"><a href=\"  \">"
       "<a href=\"c++:x\"><a href=\"a_b:c.html\"><a href=\"1x:y\"><a href=\"#f\">",
       {},
       {"a_b:c.html", "1x:y", "#f"}},
      // Nothing in comments, script, style or other text elements; end tags and their
      // attributes mean nothing.
      {"<!-- x > <a href=\"c1.html\"> --><!--><a href=\"ok1.html\"><!---><a href=ok2.html>"
       "<!-- a --!><a href=ok3.html><script>var s = '<a href=\"s.html\">';</script >"
       "<STYLE>a[href=\"y.html\"]{}</style><textarea><a id=t></textarea>"
       "</a href=\"end.html\"><?php <a href=\"pi.html\"> ?><!DOCTYPE html><a href=ok4.html>",
       {},
       {"ok1.html", "ok2.html", "ok3.html", "ok4.html"}},
      // A name marks a place on an anchor only; the first of repeated attributes counts;
      // repeats across the page are kept once.
      {"<a name=\"n1\"><meta name=\"n2\"><a href=a.html href=b.html id=i id=j><a href=a.html>"
       "<p id=i>",
       {"n1", "i"},
       {"a.html"}},
      // A tag the page ends inside is no tag; after <plaintext> everything is text.
      {"<a href=\"x.html\">x<a href=\"y.html", {}, {"x.html"}},
      {"<a href=z.html><plaintext><a href=w.html>", {}, {"z.html"}},
      {"<a href='q.html", {}, {}},
      {"< a href=n.html>a < b <3 <a/href=s.html/>", {}, {"s.html/"}},
  };
  for (const Case& c : cases) {
    const PageLinks page = ScanPage(c.html);
    EXPECT_EQ(page.ids, c.ids) << c.html;
    EXPECT_EQ(page.links, c.links) << c.html;
  }
}

TEST(LinkScan, ReadsThePagesTheConverterWrites) {
  const std::string html = ToHtml(
      "# Getting started\n\n"
      "See [more][m], [and](a.html?x=1&y=2#Getting%20started) and ![pic](img/p.png \"t\").\n"
      "[q](it's.html) [w](http://example.invalid/)\n\n"
      "## Getting started\n\n"
      "[m]: deep/more.html\n");
  const PageLinks page = ScanPage(html);
  EXPECT_EQ(page.ids, (Strings{"Getting started", "Getting started-1"})) << html;
  EXPECT_EQ(page.links, (Strings{"deep/more.html", "a.html?x=1&y=2#Getting%20started", "img/p.png",
                                 "it's.html"}))
      << html;
}

TEST(LinkScan, HostileBytesFinishWithBoundedResults) {
  const std::string inputs[] = {
      Repeat("<a href=", 100000),
      Repeat("<!--", 100000),
      Repeat("<a id=x", 50000) + ">",
      Repeat("&#99999999999", 50000),
      "<a href=\"" + Repeat("&amp", 100000) + "\">",
      "<a id=\"" + Repeat("x", kMaxLinkValueBytes + 1) + "\" href=" + Repeat("y", 9000) + ">",
      Repeat("<script></scrip", 30000),
      Repeat(std::string("<a id=\0\xff\x80>", 10), 50000),
  };
  for (const std::string& html : inputs) {
    const PageLinks page = ScanPage(html);
    EXPECT_LE(page.ids.size() + page.links.size(), 2u);
    for (const std::string& item : page.ids)
      EXPECT_LE(item.size(), kMaxLinkValueBytes);
    for (const std::string& item : page.links)
      EXPECT_LE(item.size(), kMaxLinkValueBytes);
  }
}

TEST(LinkResolve, ResolvesBelowTheOutputFolder) {
  struct Case {
    const char* page;
    const char* link;
    std::optional<const char*> path;  // nothing: the link leaves OUT
    bool folder;
    bool self;
    std::optional<const char*> fragment;
  };
  const Case cases[] = {
      {"a.html", "b.html", "b.html", false, false, {}},
      {"docs/a.html", " deep/more.html ", "docs/deep/more.html", false, false, {}},
      {"docs/a.html", "../b.html?x=1#y", "b.html", false, false, "y"},
      {"docs/a.html", "../../b.html", {}, false, false, {}},
      {"a.html", "x/%2e%2E/./b%20c.html", "b c.html", false, false, {}},
      {"a.html", "%E2%82%AC%zz.html", "\xE2\x82\xAC%zz.html", false, false, {}},
      {"a.html", "a%2Fb.html", {}, false, false, {}},
      {"a.html", "x%00.html", {}, false, false, {}},
      {"d/a.html", "sub\\b.html", "d/sub/b.html", false, false, {}},
      {"d/a.html", "sub//", "d/sub", true, false, {}},
      {"d/a.html", "..", "", true, false, {}},
      {"d/a.html", "./", "d", true, false, {}},
      {"d/a.html", "#Getting%20started", "d/a.html", false, true, "Getting started"},
      {"d/a.html", "?q#", "d/a.html", false, true, ""},
      {"d/a.html", "e.html#a#b", "d/e.html", false, false, "a#b"},
      {"d/e/a.html", "x/../../b.html", "d/b.html", false, false, {}},
      {"d/e/a.html", "../../../b.html", {}, false, false, {}},
  };
  for (const Case& c : cases) {
    const std::optional<LinkTarget> target = ResolveLink(c.page, c.link);
    ASSERT_EQ(target.has_value(), c.path.has_value()) << c.link;
    if (!target)
      continue;
    EXPECT_EQ(target->path, *c.path) << c.link;
    EXPECT_EQ(target->folder, c.folder) << c.link;
    EXPECT_EQ(target->self, c.self) << c.link;
    EXPECT_EQ(target->hasFragment, c.fragment.has_value()) << c.link;
    EXPECT_EQ(target->fragment, c.fragment.value_or("")) << c.link;
  }
}

TEST(LinkCheck, ReportsEachBrokenLinkOnceInPageOrder) {
  const PageLinks index{{"Getting started", "top-1"},
                        {"#Getting%20started", "#Getting started", "#nope", "#", "#TOP", "docs/",
                         "docs", "empty/", "img/p.png#x", "gone.png", "docs/b.html#n1",
                         "docs/b.html#n2", "#nope", "../up.html", "b.html?only=query"}};
  const PageLinks docs{
      {}, {"../index.html#top-1", "b.html#%6E1", "../index.html#missing", "../gone.png"}};
  const PageLinks docsB{{"n1"}, {"deep/more.html"}};
  std::vector<LinkPage> pages = {
      {"site/index.md", "index.html", &index},
      {"site/docs/index.md", "docs/index.html", &docs},
      {"site/docs/b.md", "docs/b.html", &docsB},
  };
  const std::map<std::string, PathKind> files = {
      {"docs", PathKind::Folder},      {"empty", PathKind::Folder},
      {"img", PathKind::Folder},       {"img/p.png", PathKind::File},
      {"docs/deep", PathKind::Folder}, {"docs/deep/more.html", PathKind::File},
  };
  std::vector<std::string> asked;
  const std::vector<BrokenLink> broken = CheckSiteLinks(pages, [&](std::string_view path) {
    asked.emplace_back(path);
    const auto found = files.find(std::string(path));
    return found == files.end() ? PathKind::Missing : found->second;
  });
  std::vector<std::string> lines;
  for (const BrokenLink& b : broken)
    lines.push_back(BrokenLinkMessage(pages[b.page], b));
  EXPECT_EQ(lines, (Strings{
                       "site/index.md: broken link \"#nope\" (no such id)",
                       "site/index.md: broken link \"empty/\" (no such file)",
                       "site/index.md: broken link \"gone.png\" (no such file)",
                       "site/index.md: broken link \"docs/b.html#n2\" (no such id)",
                       "site/index.md: broken link \"../up.html\" (no such file)",
                       "site/index.md: broken link \"b.html?only=query\" (no such file)",
                       "site/docs/index.md: broken link \"../index.html#missing\" (no such id)",
                       "site/docs/index.md: broken link \"../gone.png\" (no such file)",
                   }));
  // Pages are known without asking, and each path is asked for once.
  std::vector<std::string> sorted = asked;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "docs/index.html"), 0);

  // A link shown on its line keeps the line whole.
  const PageLinks odd{{}, {"a\"b\x01.html"}};
  pages = {{"s/o.md", "o.html", &odd}};
  const std::vector<BrokenLink> oddBroken =
      CheckSiteLinks(pages, [](std::string_view) { return PathKind::Missing; });
  ASSERT_EQ(oddBroken.size(), 1u);
  EXPECT_EQ(BrokenLinkMessage(pages[0], oddBroken[0]),
            "s/o.md: broken link \"a%22b%01.html\" (no such file)");
}

TEST(LinkCheck, FragmentsIntoTheirOwnPageReadAsAddresses) {
  // Each link is read as a browser reads the address: blanks at its ends dropped, tabs
  // inside dropped, a backslash read as a slash, the fragment matched as written or
  // decoded.
  const PageLinks page{{"a b", "a/b", "tabhere", "x", "a%zz"},
                       {"#a%20b", "#a b", "#a\\b", " #x ", "#tab\there", "#nope", "#a%zz", "#Top",
                        "#", "#a%2Fb", "#x\x7F", "#%78"}};
  const std::vector<LinkPage> pages = {{"s/p.md", "d/p.html", &page}};
  std::vector<std::string> asked;
  const std::vector<BrokenLink> broken = CheckSiteLinks(pages, [&](std::string_view path) {
    asked.emplace_back(path);
    return PathKind::Missing;
  });
  std::vector<std::string> lines;
  for (const BrokenLink& b : broken)
    lines.push_back(BrokenLinkMessage(pages[b.page], b));
  EXPECT_EQ(lines, (Strings{"s/p.md: broken link \"#nope\" (no such id)",
                            "s/p.md: broken link \"#x%7F\" (no such id)"}));
  // A link into its own page asks nothing of the system.
  EXPECT_TRUE(asked.empty());
}

TEST(LinkRecord, RoundTripsAnyBytes) {
  std::string everyByte;
  for (int b = 0; b < 256; ++b)
    everyByte.push_back(static_cast<char>(b));
  const PageLinks page{{"", "a b", "~", "%41", everyByte, "\\t\t\n\r"},
                       {"x.html#y z", "", "\xff\xfe", "~x"}};
  const std::string record = FormatPageLinks(page);
  for (const char c : record)
    EXPECT_TRUE(c != '\n' && c != '\r' && c != '\t' && c != '\\' && c != '\0');
  EXPECT_EQ(FormatPageLinks(PageLinks{{"a b", ""}, {"%~"}}), "links 1 2 1 a%20b ~ %25%7E");
  const std::optional<PageLinks> back = ParsePageLinks(record);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ids, page.ids);
  EXPECT_EQ(back->links, page.links);
  const std::optional<PageLinks> none = ParsePageLinks("links 1 0 0");
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->ids.empty() && none->links.empty());
}

TEST(LinkRecord, RejectsDamagedRecords) {
  const std::string tooLong = "links 1 1 0 " + Repeat("x", kMaxLinkValueBytes + 1);
  const std::string records[] = {
      "",
      "links",
      "links 2 0 0",
      "links 1 0",
      "links 1 1 0",      // an id missing
      "links 1 0 1 a b",  // one item too many
      "links 1 0 1 ",     // an empty field is not an empty item
      "links 1 01 0 a",   // counts are written without leading zeros
      "links 1 -1 0",
      "links 1 99999999999999999999 0",
      "links 1 2000000 0",  // beyond the items a page keeps
      "links 1 1 0 %4",
      "links 1 1 0 %G0",
      "links 1 1 0 a\tb",
      "links 1 1 0 a\\b",
      "links 1 1 0 a~",
      "links 1 0 0\n",
      tooLong,
  };
  for (const std::string& record : records)
    EXPECT_FALSE(ParsePageLinks(record)) << record;
}

}  // namespace
}  // namespace tarvix
