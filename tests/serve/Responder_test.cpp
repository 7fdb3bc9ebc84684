// The preview's answers, decided from files in a temporary folder without a network.
#include "serve/Responder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/RunProgram.h"
#include "support/ScopedTempDir.h"

namespace tarvix::serve {
namespace {

std::string HeaderOf(const Reply& reply, const std::string& name) {
  for (const auto& [key, value] : reply.headers) {
    if (key == name)
      return value;
  }
  return "(none)";
}

TEST(Responder, ContentTypesByExtension) {
  const struct {
    const char* name;
    const char* type;
  } cases[] = {
      {"/a.html", "text/html; charset=utf-8"},
      {"/A.HTML", "text/html; charset=utf-8"},
      {"/s.css", "text/css; charset=utf-8"},
      {"/x.js", "text/javascript; charset=utf-8"},
      {"/i.svg", "image/svg+xml"},
      {"/i.png", "image/png"},
      {"/i.jpg", "image/jpeg"},
      {"/i.gif", "image/gif"},
      {"/i.webp", "image/webp"},
      {"/favicon.ico", "image/x-icon"},
      {"/d.json", "application/json"},
      {"/r.txt", "text/plain; charset=utf-8"},
      {"/f.woff2", "font/woff2"},
      {"/p.pdf", "application/pdf"},
      {"/a.tar.gz", "application/octet-stream"},
      {"/README", "application/octet-stream"},
      {"/v1.2/README", "application/octet-stream"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ContentTypeOf(c.name), c.type) << c.name;
}

TEST(Responder, DecodesTargetPaths) {
  const struct {
    const char* target;
    std::optional<std::string> path;
  } cases[] = {
      {"/a%20b.html", "/a b.html"}, {"/docs/?x=1", "/docs/"},
      {"/p.html#top", "/p.html"},   {"/%c3%a9t%C3%A9", "/\xc3\xa9t\xc3\xa9"},
      {"/%2e%2e/x", "/../x"},       {"/bad%2", std::nullopt},
      {"/bad%zz", std::nullopt},    {"/nul%00", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DecodeTargetPath(c.target), c.path) << c.target;
}

TEST(Responder, HttpDatesBothWays) {
  EXPECT_EQ(FormatHttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
  EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(ParseHttpDate("Tue, 29 Feb 2000 00:00:00 GMT"), 951782400);
  for (const char* bad : {"", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
                          "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 06 Foo 1994 08:49:37 GMT",
                          "Sun, 06 Nov 1994 25:49:37 GMT", "Sun, 6x Nov 1994 08:49:37 GMT"})
    EXPECT_EQ(ParseHttpDate(bad), std::nullopt) << bad;
}

TEST(Responder, ScriptGoesBeforeTheLastBodyEnd) {
  const std::string page = WithReloadScript("<p>a</body> <P>b</BODY>\n</html>");
  const std::size_t script = page.find("<script>");
  ASSERT_NE(script, std::string::npos);
  EXPECT_EQ(page.substr(0, script), "<p>a</body> <P>b");
  EXPECT_EQ(page.substr(page.size() - 15), "</BODY>\n</html>");
  const std::string bare = WithReloadScript("<p>no body end");
  EXPECT_EQ(bare.find("<p>no body end<script>"), 0u);
  EXPECT_NE(bare.find("/.tarvix/events"), std::string::npos);
}

TEST(Responder, ScriptSkipsBodyEndsInsideScriptsAndComments) {
  // A page whose own script held the text "</body>" got the reload script inside that
  // script, where it broke both, and the page no longer reloaded.
  const struct {
    const char* page;
    const char* before;  // what comes before the reload script
  } cases[] = {
      {"<body>a</body><script>var s = \"</body>\";</script>", "<body>a"},
      {"<body>a</body><SCRIPT type=module>x('</BODY>')</SCRIPT >", "<body>a"},
      {"<body>a</body><!-- </body> -->", "<body>a"},
      {"<body>a</body><style>p::after{content:'</body>'}</style>", "<body>a"},
      {"<body><scripts></body>", "<body><scripts>"},
      {"<body>a<script>never closed </body>", "<body>a<script>never closed </body>"},
      {"<body>a<!-- never closed </body>", "<body>a<!-- never closed </body>"},
      {"<body>a</body><script></script></body>", "<body>a</body><script></script>"},
  };
  for (const auto& c : cases) {
    const std::string page = WithReloadScript(c.page);
    const std::size_t script = page.find("<script>(function");
    ASSERT_NE(script, std::string::npos) << c.page;
    EXPECT_EQ(page.substr(0, script), c.before) << c.page;
    EXPECT_EQ(page.substr(0, script) + page.substr(page.find("</script>\n", script) + 10), c.page)
        << c.page;
  }
}

class ResponderFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    if (kWindows)
      GTEST_SKIP() << "the files served include links, which need a privilege on Windows";
    root = dir.PathOf("out");
    fs::create_directories(root + "/docs");
    fs::create_directories(root + "/empty");
    fs::create_directories(dir.PathOf("elsewhere"));
    dir.WriteFile("out/index.html", "<html><body>home</body></html>");
    dir.WriteFile("out/docs/index.html", "<body>docs</body>");
    dir.WriteFile("out/docs/a b.html", "<body>spaced</body>");
    dir.WriteFile("out/style.css", "p{}");
    dir.WriteFile("out/.state", "secret");
    dir.WriteFile("elsewhere/secret.txt", "secret");
    fs::create_symlink(dir.PathOf("elsewhere/secret.txt"), root + "/leak.txt");
    fs::create_symlink(dir.PathOf("elsewhere"), root + "/leakdir");
    fs::create_symlink(root + "/style.css", root + "/inner.css");
    fs::create_symlink(".state", root + "/state.txt");
    fs::create_directories(root + "/.hidden");
    dir.WriteFile("out/.hidden/index.html", "secret");
    fs::create_symlink(".hidden", root + "/shown");
  }
  Reply Get(const std::string& target, const std::string& method = "GET") {
    return Respond(Request{method, target, "", ""}, root, true);
  }
  ScopedTempDir dir;
  std::string root;
};

TEST_F(ResponderFiles, ServesOnlyFilesBelowTheFolder) {
  const struct {
    const char* target;
    unsigned status;
  } cases[] = {
      {"/", 200},
      {"/style.css", 200},
      {"/docs/", 200},
      {"/docs/a%20b.html", 200},
      {"/inner.css", 200},  // a link that stays inside
      {"/docs", 301},
      {"/missing.html", 404},
      {"/empty/", 404},
      {"/style.css/", 404},
      {"/.state", 404},
      {"/docs/../.state", 404},
      {"/../elsewhere/secret.txt", 404},
      {"/%2e%2e/elsewhere/secret.txt", 404},
      {"/leak.txt", 404},
      {"/leakdir/secret.txt", 404},
      // Links inside the folder to hidden names: the state file was served this way.
      {"/state.txt", 404},
      {"/shown/", 404},
      {"/shown/index.html", 404},
      {"/docs\\..\\style.css", 404},
      {"relative", 400},
      {"/x%zz", 400},
  };
  for (const auto& c : cases) {
    const Reply reply = Get(c.target);
    EXPECT_EQ(reply.status, c.status) << c.target;
    EXPECT_EQ(reply.text.find("secret"), std::string::npos) << c.target;
  }
  EXPECT_EQ(HeaderOf(Get("/docs"), "Location"), "/docs/");
  EXPECT_EQ(Get("/", "POST").status, 405u);
  EXPECT_EQ(HeaderOf(Get("/", "DELETE"), "Allow"), "GET, HEAD");
}

TEST_F(ResponderFiles, PagesGetTheScriptOtherFilesGoAsTheyAre) {
  const Reply page = Get("/docs/");
  EXPECT_EQ(page.text.substr(0, 10), "<body>docs");
  EXPECT_NE(page.text.find("<script>"), std::string::npos);
  EXPECT_EQ(HeaderOf(page, "Content-Type"), "text/html; charset=utf-8");
  // The file itself is left as it was.
  EXPECT_EQ(dir.ReadFile("out/docs/index.html"), "<body>docs</body>");
  const Reply style = Get("/style.css");
  EXPECT_TRUE(style.text.empty());
  EXPECT_EQ(style.fileSize, 3u);
  EXPECT_NE(style.file.find("style.css"), std::string::npos);
  const Reply missing = Get("/nothing.html");
  EXPECT_NE(missing.text.find("Not found"), std::string::npos);
  EXPECT_NE(missing.text.find("<script>"), std::string::npos);
  const Reply head = Get("/style.css", "HEAD");
  EXPECT_EQ(head.status, 200u);
  EXPECT_FALSE(head.withBody);
  EXPECT_EQ(head.fileSize, 3u);
}

TEST_F(ResponderFiles, ConditionalRequests) {
  const Reply first = Get("/style.css");
  const std::string tag = HeaderOf(first, "ETag");
  const std::string date = HeaderOf(first, "Last-Modified");
  ASSERT_EQ(ParseHttpDate(date).has_value(), true) << date;
  const auto ask = [&](const std::string& since, const std::string& match) {
    return Respond(Request{"GET", "/style.css", since, match}, root, true).status;
  };
  EXPECT_EQ(ask(date, ""), 304u);
  EXPECT_EQ(ask("Thu, 01 Jan 1970 00:00:00 GMT", ""), 200u);
  EXPECT_EQ(ask("not a date", ""), 200u);
  EXPECT_EQ(ask("", tag), 304u);
  EXPECT_EQ(ask("", "W/" + tag), 304u);
  EXPECT_EQ(ask("", "\"other\""), 200u);
  EXPECT_EQ(ask("", "*"), 304u);
  // A tag the browser sends decides, whatever its date says.
  EXPECT_EQ(ask(date, "\"other\""), 200u);
}

TEST_F(ResponderFiles, EditWithinTheSameSecondIsNotAnswered304) {
  // A page edited twice within one second kept its Last-Modified date, so a browser that
  // revalidated by date alone was told its old copy was current and showed the old text.
  const Reply first = Get("/style.css");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  dir.WriteFile("out/style.css", "q{}");
  const Reply again = Respond(
      Request{"GET", "/style.css", HeaderOf(first, "Last-Modified"), HeaderOf(first, "ETag")}, root,
      true);
  EXPECT_EQ(again.status, 200u);
  EXPECT_NE(HeaderOf(again, "ETag"), HeaderOf(first, "ETag"));
}

}  // namespace
}  // namespace tarvix::serve
