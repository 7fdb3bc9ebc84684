// The HTTP server over Boost.Beast: one thread runs every connection as a coroutine, so
// that hundreds of open pages cost no thread each and nothing needs a lock but Reload's
// hand-over.
#include "serve/HttpServer_CL.h"

// clang-format off
#include <utility>  // before Asio, whose awaitable needs std::exchange
#include <boost/asio.hpp>
// clang-format on
#include <algorithm>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <thread>

#include "serve/Reload.h"
#include "serve/Responder.h"
#include "text/Text.h"

namespace tarvix::serve {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

// Requests carry no more than a path and a few headers; a larger one is refused with 400.
constexpr std::size_t kMaxRequestHeader = 16 * 1024;
constexpr std::size_t kMaxRequestBody = 64 * 1024;
// Each open page holds a connection, and a few hundred tabs is more than anyone previews
// at once. When all are taken, the oldest idle one is closed for a new one.
constexpr std::size_t kMaxConnections = 1024;
// Event streams never end by themselves, so they have a cap of their own, below the
// connections': streams alone can never shut out the requests of a page.
constexpr std::size_t kMaxEventStreams = 512;
// A connection that sends nothing for this long is closed (an idle keep-alive).
constexpr auto kIdleTimeout = std::chrono::seconds(30);
// Once a request's first byte came, its header and body must follow within this: a
// client that sends a byte now and then holds no connection for long.
constexpr auto kRequestTimeout = std::chrono::seconds(10);
// An event stream with nothing to say sends a comment this often, which finds the pages
// that are gone.
constexpr auto kHeartbeat = std::chrono::seconds(15);
// Events kept for streams that were busy writing when they came.
constexpr std::size_t kKeptEvents = 16;
// Out of descriptors, the accept waits this long at first, twice as long at each further
// failure up to the longest, rather than trying again at once without end.
constexpr auto kFirstBackoff = std::chrono::milliseconds(10);
constexpr auto kLongestBackoff = std::chrono::milliseconds(500);
// Out of descriptors, the connections are held this many below the number open then, so
// that the files the answers read can still be opened; never fewer than the least.
constexpr std::size_t kSpareDescriptors = 8;
constexpr std::size_t kLeastConnections = 16;
// Bytes read at a time while a request's header comes.
constexpr std::size_t kReadSize = 4096;

constexpr std::string_view kForbiddenHostPage =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Forbidden</title></head>"
    "<body><h1>Forbidden</h1><p>The preview answers only to localhost, a loopback address and "
    "the names given with -host, so that no page of another site can read it through a name "
    "that leads here.</p></body></html>\n";

}  // namespace

struct HttpServer_CL::Impl {
  explicit Impl(std::string rootFolder)
      : root(std::move(rootFolder)), acceptor(context), reserve(context) {}

  // A page's event stream, waiting on its timer; Reload cancels the timer to wake it.
  struct Subscriber {
    asio::steady_timer* timer;
    std::uint64_t seen;
  };
  // One open connection, in one of the orders below while it waits for a request (idle)
  // or holds an event stream.
  struct Connection {
    beast::tcp_stream* stream;
    std::uint64_t idle = 0;               // its key in `idle`, 0 when it is not there
    std::uint64_t events = 0;             // its key in `eventStreams`, 0 when it is not there
    asio::steady_timer* timer = nullptr;  // an event stream's, which its wait is on
    bool closed = false;  // closed to make room: no longer counted, its coroutine ending
  };

  std::string root;
  HostRule hosts;
  asio::io_context context;
  tcp::acceptor acceptor;
  // A descriptor held back, given up when the system has none left so that the server can
  // still take a connection and close the oldest idle one.
  tcp::socket reserve;
  std::thread thread;
  bool stopping = false;  // on the server thread
  std::size_t connections = 0;
  std::size_t connectionCap = kMaxConnections;  // lowered when descriptors ran out
  std::uint64_t order = 0;                      // the keys of `idle` and `eventStreams`
  std::map<std::uint64_t, Connection*> idle;
  std::map<std::uint64_t, Connection*> eventStreams;
  std::uint64_t sequence = 0;
  std::deque<std::pair<std::uint64_t, std::string>> events;
  std::set<Subscriber*> subscribers;
  std::set<beast::tcp_stream*> streams;  // every open connection, closed at the stop

  asio::awaitable<void> Accept();
  asio::awaitable<void> Session(tcp::socket socket);
  asio::awaitable<void> EventStream(Connection& connection, unsigned version);
  // Reads one request's header into `buffer`; false when the connection is to end, with
  // `bad` set when a 400 is owed first.
  asio::awaitable<bool> ReadHeader(Connection& connection, beast::flat_buffer& buffer, bool* bad);
  void MarkIdle(Connection& connection, bool idle);
  // Closes the connection idle the longest; false when none is.
  bool CloseOldestIdle();
  // Closes `connection` to make room; its coroutine ends at its next step.
  void Close(Connection& connection);
  void Leave(Connection& connection);
};

namespace {

template <class Body>
asio::awaitable<bool> Send(beast::tcp_stream& stream, http::response<Body>& response) {
  beast::error_code ec;
  co_await http::async_write(stream, response, asio::redirect_error(asio::use_awaitable, ec));
  co_return !ec;
}

http::response_header<> HeaderOf(const Reply& reply, unsigned version) {
  http::response_header<> header;
  header.result(reply.status);
  header.version(version);
  header.set(http::field::server, "tarvix");
  for (const auto& [name, value] : reply.headers)
    header.set(name, value);
  return header;
}

// True when the system refused a new connection for want of descriptors or memory.
bool OutOfResources(const beast::error_code& ec) {
  return ec == asio::error::no_descriptors ||
         ec == boost::system::errc::too_many_files_open_in_system ||
         ec == asio::error::no_buffer_space || ec == asio::error::no_memory;
}

// Where the header that `bytes` begins ends (past its empty line); npos while incomplete.
std::size_t HeaderEnd(std::string_view bytes) {
  const std::size_t crlf = bytes.find("\r\n\r\n");
  const std::size_t lf = bytes.find("\n\n");
  if (crlf == std::string_view::npos && lf == std::string_view::npos)
    return std::string_view::npos;
  return crlf < lf ? crlf + 4 : lf + 2;
}

// False when the request line in `bytes` is complete and ends in no "HTTP/x.y": the parser
// would wait for a version that is not coming.
bool RequestLineHasVersion(std::string_view bytes) {
  std::size_t from = 0;
  while (from < bytes.size() && (bytes[from] == '\r' || bytes[from] == '\n'))
    ++from;
  const std::size_t end = bytes.find('\n', from);
  if (end == std::string_view::npos)
    return true;
  std::string_view line = bytes.substr(from, end - from);
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  constexpr std::string_view kVersion = " HTTP/x.y";
  if (line.size() < kVersion.size())
    return false;
  const std::string_view version = line.substr(line.size() - kVersion.size());
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return version.substr(0, 6) == " HTTP/" && digit(version[6]) && version[7] == '.' &&
         digit(version[8]);
}

}  // namespace

bool HostAllowed(std::string_view host, const HostRule& rule) {
  std::string name;
  std::string_view rest;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string_view::npos)
      return false;
    name = std::string(host.substr(1, close - 1));
    rest = host.substr(close + 1);
  } else {
    const std::size_t colon = host.find(':');
    name = std::string(host.substr(0, colon));
    rest = colon == std::string_view::npos ? std::string_view() : host.substr(colon);
  }
  if (!rest.empty()) {
    // A port: a colon and digits alone.
    if (rest[0] != ':' || rest.size() == 1 ||
        rest.find_first_not_of("0123456789", 1) != std::string_view::npos)
      return false;
  }
  if (name.empty())
    return false;
  name = AsciiLowerCase(name);
  constexpr std::string_view kLocalhost = "localhost";
  if (name == kLocalhost || (name.size() > kLocalhost.size() + 1 && name.ends_with(".localhost")))
    return true;
  beast::error_code ec;
  const asio::ip::address address = asio::ip::make_address(name, ec);
  if (!ec) {
    if (address.is_loopback() || rule.anyAddress)
      return true;
    if (address.is_v6() && address.to_v6().is_v4_mapped() &&
        asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6()).is_loopback())
      return true;
    for (const std::string& listened : rule.addresses) {
      const asio::ip::address own = asio::ip::make_address(listened, ec);
      if (!ec && own == address)
        return true;
    }
  }
  for (const std::string& allowed : rule.names) {
    if (name == allowed)
      return true;
  }
  return false;
}

void HttpServer_CL::Impl::MarkIdle(Connection& connection, bool isIdle) {
  if (connection.idle != 0) {
    idle.erase(connection.idle);
    connection.idle = 0;
  }
  if (isIdle) {
    connection.idle = ++order;
    idle.emplace(connection.idle, &connection);
  }
}

bool HttpServer_CL::Impl::CloseOldestIdle() {
  if (idle.empty())
    return false;
  Close(*idle.begin()->second);
  return true;
}

void HttpServer_CL::Impl::Close(Connection& connection) {
  MarkIdle(connection, false);
  if (connection.events != 0)
    eventStreams.erase(connection.events);
  connection.events = 0;
  connection.closed = true;
  --connections;
  // Its read or write ends with an error, an event stream's wait at the cancel.
  beast::error_code ec;
  connection.stream->socket().close(ec);
  if (connection.timer != nullptr)
    connection.timer->cancel();
}

void HttpServer_CL::Impl::Leave(Connection& connection) {
  MarkIdle(connection, false);
  if (connection.events != 0)
    eventStreams.erase(connection.events);
  streams.erase(connection.stream);
  if (!connection.closed)
    --connections;
}

asio::awaitable<void> HttpServer_CL::Impl::Accept() {
  auto backoff = kFirstBackoff;
  asio::steady_timer wait(context);
  for (;;) {
    beast::error_code ec;
    tcp::socket socket =
        co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (stopping || ec == asio::error::operation_aborted)
      co_return;
    if (OutOfResources(ec)) {
      // Taking a connection again at once would fail again at once: the reserve and the
      // oldest idle connections give back descriptors, the connections are held below the
      // number that exhausted them, and the next try waits.
      reserve.close(ec);
      connectionCap = std::max(kLeastConnections, connections > kSpareDescriptors
                                                      ? connections - kSpareDescriptors
                                                      : std::size_t{0});
      (void)CloseOldestIdle();
      while (connections > connectionCap && CloseOldestIdle()) {
      }
      wait.expires_after(backoff);
      co_await wait.async_wait(asio::redirect_error(asio::use_awaitable, ec));
      if (stopping)
        co_return;
      backoff = std::min<std::chrono::milliseconds>(backoff * 2, kLongestBackoff);
      continue;
    }
    if (ec)
      continue;
    backoff = kFirstBackoff;
    if (!reserve.is_open())
      reserve.open(tcp::v4(), ec);
    // Full: the connection idle the longest makes room, or the new one is refused.
    if (connections >= connectionCap && !CloseOldestIdle()) {
      socket.close(ec);
      continue;
    }
    asio::co_spawn(context, Session(std::move(socket)), asio::detached);
  }
}
asio::awaitable<bool> HttpServer_CL::Impl::ReadHeader(Connection& connection,
                                                      beast::flat_buffer& buffer, bool* bad) {
  *bad = false;
  beast::tcp_stream& stream = *connection.stream;
  beast::error_code ec;
  const auto bytes = [&buffer] {
    return std::string_view(static_cast<const char*>(buffer.data().data()), buffer.size());
  };
  // Waiting for a request, and while its header comes, the connection is idle: the first
  // to be closed when the server is full.
  MarkIdle(connection, true);
  if (buffer.size() == 0) {
    stream.expires_after(kIdleTimeout);
    const std::size_t got = co_await stream.async_read_some(
        buffer.prepare(kReadSize), asio::redirect_error(asio::use_awaitable, ec));
    buffer.commit(got);
    if (ec || connection.closed)
      co_return false;
  }
  stream.expires_after(kRequestTimeout);
  while (HeaderEnd(bytes()) == std::string_view::npos) {
    if (!RequestLineHasVersion(bytes()) || buffer.size() >= kMaxRequestHeader) {
      *bad = true;
      co_return false;
    }
    const std::size_t got = co_await stream.async_read_some(
        buffer.prepare(kReadSize), asio::redirect_error(asio::use_awaitable, ec));
    buffer.commit(got);
    if (ec || connection.closed)
      co_return false;
  }
  MarkIdle(connection, false);
  *bad = !RequestLineHasVersion(bytes());
  co_return !*bad;
}

asio::awaitable<void> HttpServer_CL::Impl::Session(tcp::socket socket) {
  ++connections;
  beast::tcp_stream stream(std::move(socket));
  Connection connection{&stream};
  streams.insert(&stream);
  struct Forget {
    Impl& impl;
    Connection& connection;
    ~Forget() { impl.Leave(connection); }
  } forget{*this, connection};
  beast::flat_buffer buffer(kMaxRequestHeader + kMaxRequestBody);
  beast::error_code ec;
  const auto refuse = [&](http::status status, std::string_view type, std::string_view text) {
    http::response<http::string_body> refusal{status, 11};
    refusal.set(http::field::content_type, std::string(type));
    refusal.body() = std::string(text);
    refusal.keep_alive(false);
    refusal.prepare_payload();
    return refusal;
  };
  while (!stopping) {
    bool bad = false;
    if (!co_await ReadHeader(connection, buffer, &bad)) {
      // A request we cannot read is answered once, and the connection closed: what
      // follows it on the wire cannot be told apart from it.
      if (bad && !connection.closed) {
        auto response =
            refuse(http::status::bad_request, "text/plain; charset=utf-8", "Bad request\n");
        (void)co_await Send(stream, response);
      }
      break;
    }
    http::request_parser<http::string_body> parser;
    parser.header_limit(kMaxRequestHeader);
    parser.body_limit(kMaxRequestBody);
    co_await http::async_read(stream, buffer, parser,
                              asio::redirect_error(asio::use_awaitable, ec));
    if (connection.closed || ec == http::error::end_of_stream || ec == beast::error::timeout ||
        ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
        ec == asio::error::eof)
      break;
    if (ec) {
      auto response =
          refuse(http::status::bad_request, "text/plain; charset=utf-8", "Bad request\n");
      (void)co_await Send(stream, response);
      break;
    }
    const http::request<http::string_body>& message = parser.get();
    const unsigned version = message.version();
    if (const auto field = message.find(http::field::host);
        field != message.end() &&
        !HostAllowed(std::string_view(field->value().data(), field->value().size()), hosts)) {
      auto response =
          refuse(http::status::forbidden, "text/html; charset=utf-8", kForbiddenHostPage);
      response.version(version);
      (void)co_await Send(stream, response);
      break;
    }
    const std::string target(message.target());
    const bool isGet = message.method() == http::verb::get;
    if (isGet && target.substr(0, kEventsPath.size()) == kEventsPath &&
        (target.size() == kEventsPath.size() || target[kEventsPath.size()] == '?')) {
      co_await EventStream(connection, version);
      break;
    }
    Request request;
    request.method = std::string(message.method_string());
    request.target = target;
    if (const auto field = message.find(http::field::if_modified_since); field != message.end())
      request.ifModifiedSince = std::string(field->value());
    if (const auto field = message.find(http::field::if_none_match); field != message.end())
      request.ifNoneMatch = std::string(field->value());
    const bool keepAlive = message.keep_alive();
    const Reply reply = Respond(request, root, true);

    bool sent = false;
    // The answer's writing has the idle time to finish: a client that never reads is
    // closed then.
    stream.expires_after(kIdleTimeout);
    if (!reply.withBody) {
      http::response<http::empty_body> response(HeaderOf(reply, version));
      response.keep_alive(keepAlive);
      if (reply.status != 304)
        response.content_length(reply.file.empty() ? reply.text.size() : reply.fileSize);
      sent = co_await Send(stream, response);
    } else if (!reply.file.empty()) {
      http::file_body::value_type body;
      body.open(reply.file.c_str(), beast::file_mode::scan, ec);
      if (ec) {
        http::response<http::string_body> failed{http::status::not_found, version};
        failed.keep_alive(keepAlive);
        failed.prepare_payload();
        sent = co_await Send(stream, failed);
      } else {
        http::response<http::file_body> response(HeaderOf(reply, version), std::move(body));
        response.keep_alive(keepAlive);
        response.prepare_payload();
        sent = co_await Send(stream, response);
      }
    } else {
      http::response<http::string_body> response(HeaderOf(reply, version), reply.text);
      response.keep_alive(keepAlive);
      response.prepare_payload();
      sent = co_await Send(stream, response);
    }
    if (!sent || !keepAlive || connection.closed)
      break;
  }
  // The stream's timer would otherwise stay pending to its end, and the server's thread
  // with it.
  stream.expires_never();
  stream.socket().shutdown(tcp::socket::shutdown_send, ec);
}

asio::awaitable<void> HttpServer_CL::Impl::EventStream(Connection& connection, unsigned version) {
  beast::tcp_stream& stream = *connection.stream;
  // At the cap the oldest stream makes room: the page opened last is the one looked at.
  if (eventStreams.size() >= kMaxEventStreams)
    Close(*eventStreams.begin()->second);
  asio::steady_timer timer(context);
  connection.timer = &timer;
  connection.events = ++order;
  eventStreams.emplace(connection.events, &connection);
  struct Unlink {
    Connection& connection;
    ~Unlink() { connection.timer = nullptr; }
  } unlink{connection};
  http::response<http::empty_body> response{http::status::ok, version};
  response.set(http::field::content_type, "text/event-stream");
  response.set(http::field::cache_control, "no-store");
  response.chunked(true);
  http::response_serializer<http::empty_body> serializer(response);
  beast::error_code ec;
  stream.expires_after(kIdleTimeout);
  co_await http::async_write_header(stream, serializer,
                                    asio::redirect_error(asio::use_awaitable, ec));
  if (ec || connection.closed)
    co_return;
  Subscriber self{&timer, sequence};
  subscribers.insert(&self);
  struct Leave {
    std::set<Subscriber*>& all;
    Subscriber* self;
    ~Leave() { all.erase(self); }
  } leave{subscribers, &self};
  // The first chunk tells the browser to come back quickly after the preview restarts.
  std::string text = "retry: 500\n\n";
  while (!stopping && !connection.closed) {
    stream.expires_after(kIdleTimeout);
    co_await asio::async_write(stream, http::make_chunk(asio::buffer(text)),
                               asio::redirect_error(asio::use_awaitable, ec));
    // A stop that came while the chunk was being written found no wait to cancel.
    if (ec || stopping || connection.closed)
      co_return;
    // An event that came while the chunk was being written found no wait to cancel
    // either: it is sent now rather than after the heartbeat.
    if (self.seen == sequence) {
      stream.expires_never();
      timer.expires_after(kHeartbeat);
      co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
      if (stopping || connection.closed)
        co_return;
    }
    text.clear();
    for (const auto& [number, event] : events) {
      if (number > self.seen)
        text += event;
    }
    self.seen = sequence;
    if (text.empty())
      text = ":\n\n";
  }
}

HttpServer_CL::HttpServer_CL(std::string root) : impl_(std::make_unique<Impl>(std::move(root))) {}

HttpServer_CL::~HttpServer_CL() {
  Stop();
}

bool HttpServer_CL::Listen(const std::string& address, std::uint16_t port, std::string* err) {
  beast::error_code ec;
  const asio::ip::address ip = asio::ip::make_address(address, ec);
  if (ec) {
    *err = "not an address";
    return false;
  }
  impl_->hosts.addresses.push_back(address);
  impl_->hosts.anyAddress = impl_->hosts.anyAddress || ip.is_unspecified();
  const tcp::endpoint endpoint(ip, port);
  // Reuse lets a preview restarted at once have its port back (not a port in use by another).
  if (impl_->acceptor.open(endpoint.protocol(), ec) ||
      impl_->acceptor.set_option(asio::socket_base::reuse_address(true), ec) ||
      impl_->acceptor.bind(endpoint, ec) ||
      impl_->acceptor.listen(asio::socket_base::max_listen_connections, ec)) {
    *err = ec.message();
    impl_->acceptor.close(ec);
    return false;
  }
  return true;
}

std::uint16_t HttpServer_CL::Port() const {
  beast::error_code ec;
  return impl_->acceptor.local_endpoint(ec).port();
}

void HttpServer_CL::AllowHosts(const std::vector<std::string>& names) {
  for (const std::string& name : names)
    impl_->hosts.names.push_back(AsciiLowerCase(name));
}

void HttpServer_CL::Start() {
  beast::error_code ec;
  impl_->reserve.open(tcp::v4(), ec);
  asio::co_spawn(impl_->context, impl_->Accept(), asio::detached);
  impl_->thread = std::thread([this] { impl_->context.run(); });
}

void HttpServer_CL::Reload(const std::vector<std::string>& paths) {
  asio::post(impl_->context, [impl = impl_.get(), event = ReloadEvent(paths)] {
    impl->events.emplace_back(++impl->sequence, event);
    while (impl->events.size() > kKeptEvents)
      impl->events.pop_front();
    for (Impl::Subscriber* subscriber : impl->subscribers)
      subscriber->timer->cancel();
  });
}

void HttpServer_CL::Stop() {
  if (!impl_->thread.joinable())
    return;
  asio::post(impl_->context, [impl = impl_.get()] {
    impl->stopping = true;
    beast::error_code ec;
    impl->acceptor.close(ec);
    for (Impl::Subscriber* subscriber : impl->subscribers)
      subscriber->timer->cancel();
    // Closing a connection ends what it waits for; its coroutine then returns, and the
    // thread's run ends with the last one.
    for (beast::tcp_stream* stream : impl->streams)
      stream->socket().close(ec);
  });
  impl_->thread.join();
}

}  // namespace tarvix::serve
