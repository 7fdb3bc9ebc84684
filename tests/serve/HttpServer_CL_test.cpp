// The preview's server over real connections on the loopback address: what a browser or a
// hostile client sends, and many connections at once.
#include "serve/HttpServer_CL.h"

#include <gtest/gtest.h>

// clang-format off
#include <utility>  // before Asio, whose awaitable needs std::exchange
#include <boost/asio.hpp>
// clang-format on
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ScopedTempDir.h"

namespace tarvix::serve {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

class HttpServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.PathOf("out/docs"));
    dir.WriteFile("out/index.html", "<html><body>home</body></html>");
    dir.WriteFile("out/style.css", "p{}");
    dir.WriteFile("out/.ht-tarvix-site", "state");
    dir.WriteFile("secret.txt", "secret");
    server = std::make_unique<HttpServer_CL>(dir.PathOf("out"));
    std::string err;
    ASSERT_TRUE(server->Listen("127.0.0.1", 0, &err)) << err;
    server->Start();
  }

  tcp::socket Connect() {
    tcp::socket socket(context);
    socket.connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server->Port()));
    return socket;
  }
  // Everything the server sends until it closes the connection.
  static std::string ReadAll(tcp::socket& socket) {
    std::string text;
    boost::system::error_code ec;
    char buffer[4096];
    for (;;) {
      const std::size_t n = socket.read_some(asio::buffer(buffer), ec);
      text.append(buffer, n);
      if (ec)
        return text;
    }
  }
  std::string Exchange(const std::string& request) {
    tcp::socket socket = Connect();
    asio::write(socket, asio::buffer(request));
    return ReadAll(socket);
  }
  static std::string StatusLine(const std::string& response) {
    return response.substr(0, response.find("\r\n"));
  }

  ScopedTempDir dir;
  asio::io_context context;
  std::unique_ptr<HttpServer_CL> server;
};

TEST_F(HttpServerTest, AnswersEachRequestAndOutlivesBadOnes) {
  const std::string big(20000, 'x');
  const struct {
    std::string request;
    const char* status;
  } cases[] = {
      {"GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK"},
      // Any other name may be one a page on another site made lead here.
      {"GET / HTTP/1.1\r\nHost: attacker.example\r\n\r\n", "HTTP/1.1 403 Forbidden"},
      {"GET /.tarvix/events HTTP/1.1\r\nHost: a:80\r\n\r\n", "HTTP/1.1 403 Forbidden"},
      // A request line without its version was left waiting for one until the idle close.
      {"GET / \r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /\r\nHost: localhost\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /style.css HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK"},
      {"GET /../secret.txt HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /.ht-tarvix-site HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"GET /nothing HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"POST / HTTP/1.1\r\nContent-Length: 2\r\nConnection: close\r\n\r\nab",
       "HTTP/1.1 405 Method Not Allowed"},
      {"NONSENSE\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1.1\r\nBad Header Line\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1.1\r\nX-Big: " + big + "\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /" + big + " HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"POST / HTTP/1.1\r\nContent-Length: 99999999\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", "HTTP/1.1 400 Bad Request"},
  };
  for (const auto& c : cases) {
    const std::string response = Exchange(c.request);
    EXPECT_EQ(StatusLine(response), c.status) << c.request.substr(0, 60);
    EXPECT_EQ(response.find("secret"), std::string::npos);
    EXPECT_EQ(response.find("state"), std::string::npos);
  }
  const std::string page = Exchange("GET / HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(page.find("home<script>"), std::string::npos);
  const std::string head = Exchange("HEAD /style.css HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(head.find("Content-Length: 3\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST(HttpServer, AnswersOnlyHostsThatLeadHereByThemselves) {
  // Any Host was answered, so a page that made its own name lead to 127.0.0.1 could read
  // every page of the preview from the user's browser.
  HostRule rule;
  rule.names = {"my.box"};
  rule.addresses = {"192.168.1.5"};
  const struct {
    const char* host;
    bool allowed;
  } cases[] = {
      {"localhost", true},
      {"LocalHost:8000", true},
      {"docs.localhost", true},
      {"a.b.localhost:1", true},
      {"127.0.0.1", true},
      {"127.8.9.1:80", true},
      {"[::1]", true},
      {"[::1]:8000", true},
      {"[::ffff:127.0.0.1]", true},
      {"my.box", true},
      {"MY.BOX:8000", true},
      {"192.168.1.5:8000", true},
      {"attacker.example", false},
      {"localhost.example", false},
      {"notlocalhost", false},
      {".localhost", false},
      {"192.168.1.6", false},
      {"::1", false},
      {"[::1", false},
      {"localhost:", false},
      {"localhost:80x", false},
      {"", false},
      {":8000", false},
      {"my.box.evil", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(HostAllowed(c.host, rule), c.allowed) << c.host;
  // Listening on every address, an address is answered whatever it is; names are not.
  HostRule every;
  every.anyAddress = true;
  EXPECT_TRUE(HostAllowed("10.0.0.7:8000", every));
  EXPECT_TRUE(HostAllowed("[fe80::1]", every));
  EXPECT_FALSE(HostAllowed("attacker.example", every));
}

TEST_F(HttpServerTest, KeepsAliveAndServesTwoHundredConnectionsAtOnce) {
  // Two requests on one connection, the second answered after the first.
  const std::string both = Exchange(
      "GET /style.css HTTP/1.1\r\n\r\nGET /style.css HTTP/1.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(both.find("200 OK"), 9u);
  EXPECT_NE(both.find("200 OK", 20), std::string::npos);

  constexpr int kConnections = 200;
  std::vector<tcp::socket> sockets;
  for (int i = 0; i < kConnections; ++i)
    sockets.push_back(Connect());
  for (tcp::socket& socket : sockets)
    asio::write(socket,
                asio::buffer(std::string("GET /style.css HTTP/1.1\r\nConnection: close\r\n\r\n")));
  int served = 0;
  for (tcp::socket& socket : sockets) {
    const std::string response = ReadAll(socket);
    served += StatusLine(response) == "HTTP/1.1 200 OK" && response.ends_with("p{}");
  }
  EXPECT_EQ(served, kConnections);
}

TEST_F(HttpServerTest, EventStreamCarriesReloadsAndEndsAtStop) {
  tcp::socket socket = Connect();
  asio::write(socket, asio::buffer(std::string("GET /.tarvix/events HTTP/1.1\r\n\r\n")));
  std::string text;
  char buffer[4096];
  boost::system::error_code ec;
  const auto readUntil = [&](const std::string& wanted) {
    // Each read brings at least one byte; the stream is short.
    for (int reads = 0; reads < 1000 && text.find(wanted) == std::string::npos && !ec; ++reads)
      text.append(buffer, socket.read_some(asio::buffer(buffer), ec));
    return text.find(wanted) != std::string::npos;
  };
  ASSERT_TRUE(readUntil("retry: 500\n\n"));
  EXPECT_NE(text.find("Content-Type: text/event-stream"), std::string::npos);
  server->Reload({"/index.html", "/a%20b.css"});
  EXPECT_TRUE(readUntil("data: /index.html\ndata: /a%20b.css\n\n"));
  // Stopping with the stream open ends it rather than waiting for the page to leave.
  server->Stop();
  EXPECT_EQ(ReadAll(socket).find("data:"), std::string::npos);
}

TEST_F(HttpServerTest, PortInUseIsRefused) {
  HttpServer_CL second(dir.PathOf("out"));
  std::string err;
  EXPECT_FALSE(second.Listen("127.0.0.1", server->Port(), &err));
  EXPECT_FALSE(err.empty());
  EXPECT_FALSE(second.Listen("not-an-address", 0, &err));
  EXPECT_EQ(err, "not an address");
}

}  // namespace
}  // namespace tarvix::serve
