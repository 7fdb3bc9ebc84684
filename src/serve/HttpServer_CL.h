// The preview's HTTP server: answers GET and HEAD from the files below the output folder
// (through Respond) and keeps an event stream open to each page, on which Reload sends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvix::serve {

// Listen binds, Start serves on a thread of its own, Stop (or the destructor) ends every
// connection and joins that thread. Reload and Stop may be called from any thread.
class HttpServer_CL {
 public:
  explicit HttpServer_CL(std::string root);
  virtual ~HttpServer_CL();
  HttpServer_CL(const HttpServer_CL&) = delete;
  HttpServer_CL& operator=(const HttpServer_CL&) = delete;

  // Binds `address` (an IPv4 or IPv6 address) at `port` (0: any free one). False with the
  // reason in `err` when the address is no address or the port cannot be had.
  [[nodiscard]] bool Listen(const std::string& address, std::uint16_t port, std::string* err);
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
