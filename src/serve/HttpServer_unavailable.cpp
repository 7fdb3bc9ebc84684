// The preview's server where the build has no HTTP library (the fuzzers' build): it
// never listens, and says why.
#include "serve/HttpServer_CL.h"

namespace tarvix::serve {

struct HttpServer_CL::Impl {};

HttpServer_CL::HttpServer_CL(std::string) {}

HttpServer_CL::~HttpServer_CL() = default;

bool HttpServer_CL::Listen(const std::string&, std::uint16_t, std::string* err) {
  *err = "-serve is not available in this build";
  return false;
}

std::uint16_t HttpServer_CL::Port() const {
  return 0;
}

void HttpServer_CL::AllowHosts(const std::vector<std::string>&) {}

void HttpServer_CL::Start() {}

void HttpServer_CL::Reload(const std::vector<std::string>&) {}

void HttpServer_CL::Stop() {}

}  // namespace tarvix::serve
