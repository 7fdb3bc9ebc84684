// The HTTP server over Boost.Beast: one thread runs every connection as a coroutine, so
// that hundreds of open pages cost no thread each and nothing needs a lock but Reload's
// hand-over.
#include "serve/HttpServer_CL.h"

// clang-format off
#include <utility>  // before Asio, whose awaitable needs std::exchange
#include <boost/asio.hpp>
// clang-format on
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <deque>
#include <set>
#include <thread>

#include "serve/Reload.h"
#include "serve/Responder.h"

namespace tarvix::serve {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

// Requests carry no more than a path and a few headers; a larger one is refused with 400.
constexpr std::size_t kMaxRequestHeader = 16 * 1024;
constexpr std::size_t kMaxRequestBody = 64 * 1024;
// Connections beyond this are closed as they come: each open page holds one, and a few
// hundred tabs is more than anyone previews at once.
constexpr std::size_t kMaxConnections = 1024;
// A connection that sends nothing for this long is closed (an idle keep-alive, a client
// that stalls mid-request).
constexpr auto kIdleTimeout = std::chrono::seconds(30);
// An event stream with nothing to say sends a comment this often, which finds the pages
// that are gone.
constexpr auto kHeartbeat = std::chrono::seconds(15);
// Events kept for streams that were busy writing when they came.
constexpr std::size_t kKeptEvents = 16;

}  // namespace

struct HttpServer_CL::Impl {
  explicit Impl(std::string rootFolder) : root(std::move(rootFolder)), acceptor(context) {}

  // A page's event stream, waiting on its timer; Reload cancels the timer to wake it.
  struct Subscriber {
    asio::steady_timer* timer;
    std::uint64_t seen;
  };

  std::string root;
  asio::io_context context;
  tcp::acceptor acceptor;
  std::thread thread;
  bool stopping = false;  // on the server thread
  std::size_t connections = 0;
  std::uint64_t sequence = 0;
  std::deque<std::pair<std::uint64_t, std::string>> events;
  std::set<Subscriber*> subscribers;
  std::set<beast::tcp_stream*> streams;  // every open connection, closed at the stop

  asio::awaitable<void> Accept();
  asio::awaitable<void> Session(tcp::socket socket);
  asio::awaitable<void> EventStream(beast::tcp_stream& stream, unsigned version);
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

}  // namespace

asio::awaitable<void> HttpServer_CL::Impl::Accept() {
  for (;;) {
    beast::error_code ec;
    tcp::socket socket =
        co_await acceptor.async_accept(asio::redirect_error(asio::use_awaitable, ec));
    if (stopping || ec == asio::error::operation_aborted)
      co_return;
    if (ec)
      continue;
    if (connections >= kMaxConnections) {
      socket.close(ec);
      continue;
    }
    asio::co_spawn(context, Session(std::move(socket)), asio::detached);
  }
}

asio::awaitable<void> HttpServer_CL::Impl::Session(tcp::socket socket) {
  ++connections;
  struct Count {
    std::size_t& n;
    ~Count() { --n; }
  } count{connections};
  beast::tcp_stream stream(std::move(socket));
  streams.insert(&stream);
  struct Forget {
    std::set<beast::tcp_stream*>& all;
    beast::tcp_stream* self;
    ~Forget() { all.erase(self); }
  } forget{streams, &stream};
  beast::flat_buffer buffer(kMaxRequestHeader + kMaxRequestBody);
  beast::error_code ec;
  while (!stopping) {
    http::request_parser<http::string_body> parser;
    parser.header_limit(kMaxRequestHeader);
    parser.body_limit(kMaxRequestBody);
    stream.expires_after(kIdleTimeout);
    co_await http::async_read(stream, buffer, parser,
                              asio::redirect_error(asio::use_awaitable, ec));
    if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
        ec == asio::error::operation_aborted || ec == asio::error::connection_reset ||
        ec == asio::error::eof)
      break;
    if (ec) {
      // A request we cannot read is answered once, and the connection closed: what follows
      // it on the wire cannot be told apart from it.
      http::response<http::string_body> bad{http::status::bad_request, 11};
      bad.set(http::field::content_type, "text/plain; charset=utf-8");
      bad.body() = "Bad request\n";
      bad.keep_alive(false);
      bad.prepare_payload();
      (void)co_await Send(stream, bad);
      break;
    }
    const http::request<http::string_body>& message = parser.get();
    const unsigned version = message.version();
    const std::string target(message.target());
    const bool isGet = message.method() == http::verb::get;
    if (isGet && target.substr(0, kEventsPath.size()) == kEventsPath &&
        (target.size() == kEventsPath.size() || target[kEventsPath.size()] == '?')) {
      co_await EventStream(stream, version);
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
    if (!sent || !keepAlive)
      break;
  }
  // The stream's timer would otherwise stay pending to its end, and the server's thread
  // with it.
  stream.expires_never();
  stream.socket().shutdown(tcp::socket::shutdown_send, ec);
}

asio::awaitable<void> HttpServer_CL::Impl::EventStream(beast::tcp_stream& stream,
                                                       unsigned version) {
  http::response<http::empty_body> response{http::status::ok, version};
  response.set(http::field::content_type, "text/event-stream");
  response.set(http::field::cache_control, "no-store");
  response.chunked(true);
  http::response_serializer<http::empty_body> serializer(response);
  beast::error_code ec;
  stream.expires_never();
  co_await http::async_write_header(stream, serializer,
                                    asio::redirect_error(asio::use_awaitable, ec));
  if (ec)
    co_return;
  asio::steady_timer timer(context);
  Subscriber self{&timer, sequence};
  subscribers.insert(&self);
  struct Leave {
    std::set<Subscriber*>& all;
    Subscriber* self;
    ~Leave() { all.erase(self); }
  } leave{subscribers, &self};
  // The first chunk tells the browser to come back quickly after the preview restarts.
  std::string text = "retry: 500\n\n";
  while (!stopping) {
    stream.expires_after(kIdleTimeout);
    co_await asio::async_write(stream, http::make_chunk(asio::buffer(text)),
                               asio::redirect_error(asio::use_awaitable, ec));
    // A stop that came while the chunk was being written found no wait to cancel.
    if (ec || stopping)
      co_return;
    // An event that came while the chunk was being written found no wait to cancel
    // either: it is sent now rather than after the heartbeat.
    if (self.seen == sequence) {
      timer.expires_after(kHeartbeat);
      co_await timer.async_wait(asio::redirect_error(asio::use_awaitable, ec));
      if (stopping)
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

void HttpServer_CL::Start() {
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
