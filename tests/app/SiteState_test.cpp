// The state file of a site run: what is written is read back the same, and anything else
// is not trusted.
#include "app/SiteState.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

TEST(SiteState, RoundTripsOddNamesAndMissingFiles) {
  SiteState state;
  state.options = "/cwd\nsite\tx\\y\r";
  state.pages.push_back(
      {"a b.md", "out/a b.html", {{"site/a b.md", {true, -5, 12}}, {"site/t\\p.html", {}}}});
  state.pages.push_back({"c.md", "out/c.html", {{"site/c.md", {true, 1700000000123456789, 0}}}});
  const std::string text = FormatSiteState(state);
  EXPECT_EQ(text,
            "tarvix-site 1\n"
            "options\t/cwd\\nsite\\tx\\\\y\\r\n"
            "page\ta b.md\tout/a b.html\n"
            "input\t-5\t12\tsite/a b.md\n"
            "input\t-\t-\tsite/t\\\\p.html\n"
            "page\tc.md\tout/c.html\n"
            "input\t1700000000123456789\t0\tsite/c.md\n");
  const std::optional<SiteState> back = ParseSiteState(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->options, state.options);
  ASSERT_EQ(back->pages.size(), 2u);
  EXPECT_EQ(back->pages[0].document, "a b.md");
  EXPECT_EQ(back->pages[0].target, "out/a b.html");
  ASSERT_EQ(back->pages[0].inputs.size(), 2u);
  EXPECT_EQ(back->pages[0].inputs[0].stamp, (platform::FileStamp{true, -5, 12}));
  EXPECT_EQ(back->pages[0].inputs[1].path, "site/t\\p.html");
  EXPECT_FALSE(back->pages[0].inputs[1].stamp.exists);
  EXPECT_EQ(back->pages[1].inputs[0].stamp.time, 1700000000123456789);
}

TEST(SiteState, RejectsWhatItDidNotWrite) {
  const char* texts[] = {
      "",
      "tarvix-site 2\noptions\tx\n",
      "tarvix-site 1\n",                                       // no options
      "tarvix-site 1\noptions\tx",                             // cut short
      "tarvix-site 1\noptions\tx\ninput\t1\t2\tp\n",           // an input before any page
      "tarvix-site 1\noptions\tx\npage\ta\tb\ninput\t1\tp\n",  // a field missing
      "tarvix-site 1\noptions\tx\npage\ta\tb\ninput\t1x\t2\tp\n",
      "tarvix-site 1\noptions\tx\\q\n",  // an unknown escape
      "tarvix-site 1\noptions\tx\nother\n",
  };
  for (const char* text : texts)
    EXPECT_FALSE(ParseSiteState(text)) << text;
  EXPECT_TRUE(ParseSiteState("tarvix-site 1\noptions\t\n"));
}

}  // namespace
}  // namespace tarvix
