// The addresses an angle bracket may hold, as the angle renderer tells them apart.
#include "lex/Angle.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvix {
namespace {

TEST(AngleAddress, WebAddressesNeedSchemeSeparatorAndOneCharacter) {
  struct Case {
    const char* text;
    bool web;
  };
  const Case cases[] = {
      {"http://a", true},
      {"https://x.example/p?q=1", true},
      {"see http://a", true},
      {"xhttps://a", true},
      {"http://", false},
      {"http:// a", false},
      {"https//a", false},
      {"httpss://a", false},
      {"ftp://a", false},
      {"HTTP://a", false},
      {"", false},
      {"http:/a http://b", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsWebAddress(c.text), c.web) << c.text;
}

TEST(AngleAddress, MailAddressesNeedAnAtBetweenCharacters) {
  struct Case {
    const char* text;
    bool mail;
  };
  const Case cases[] = {
      {"a@b", true},     {"name@example.org", true},
      {"x a@b y", true}, {"@b", false},
      {"a@", false},     {"@", false},
      {"a\n@b", false},  {"a@\rb", false},
      {"ab", false},     {"@\n@b", false},
      {"a\n@@b", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsMailAddress(c.text), c.mail) << c.text;
}

TEST(AngleAddress, EncodeEmailWritesEveryByteAsAReference) {
  EXPECT_EQ(EncodeEmail(""), "");
  EXPECT_EQ(EncodeEmail("a@b"), "&#x61;&#x40;&#x62;");
  EXPECT_EQ(EncodeEmail("\xC3\xA9\n"), "&#xC3;&#xA9;&#x0A;");
}

}  // namespace
}  // namespace tarvix
