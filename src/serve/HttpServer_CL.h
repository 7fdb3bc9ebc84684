// The preview's HTTP server: answers GET and HEAD from the files below the output folder
// (through Respond) and keeps an event stream open to each page, on which Reload sends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::serve {

// Which Host header values are answered. A page on another site whose name was made to
// lead to the loopback address reaches the preview with its own name as the Host: only
// names that lead here by themselves are taken, so such a page cannot read the preview.
struct HostRule {
  std::vector<std::string> names;      // in ASCII lower case, without a port
  std::vector<std::string> addresses;  // addresses listened on, as written
  bool anyAddress = false;             // listening on every address: any address written as one
};

// True when `host` (the Host header's value) names localhost, a name ending in
// ".localhost", a loopback address, or what `rule` adds; a port may follow (":8000", and
// an IPv6 address is in brackets).
[[nodiscard]] bool HostAllowed(std::string_view host, const HostRule& rule);

// Listen binds, Start serves on a thread of its own, Stop (or the destructor) ends every
// connection and joins that thread. Reload and Stop may be called from any thread.
//
// Every client of a loopback preview has the same address, so its limits are not per
// address: a request's header must come within a few seconds of its first byte, event
// streams have a cap below the connection cap (the oldest is closed for a new one), and a
// server that is full, or out of descriptors, closes its oldest idle connection to take
// a new one.
class HttpServer_CL {
 public:
  explicit HttpServer_CL(std::string root);
  virtual ~HttpServer_CL();
  HttpServer_CL(const HttpServer_CL&) = delete;
  HttpServer_CL& operator=(const HttpServer_CL&) = delete;

  // Binds `address` (an IPv4 or IPv6 address) at `port` (0: any free one). False with the
  // reason in `err` when the address is no address or the port cannot be had. The address
  // becomes one of the Host names answered (every address, where it is 0.0.0.0 or ::).
  [[nodiscard]] bool Listen(const std::string& address, std::uint16_t port, std::string* err);
  // More Host names answered, as `-host` gives them; before Start.
  void AllowHosts(const std::vector<std::string>& names);
  // The port bound, once Listen succeeded.
  [[nodiscard]] std::uint16_t Port() const;
  void Start();
  // Tells every open page that the files at these URL paths changed.
  void Reload(const std::vector<std::string>& paths);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvix::serve
