// Where a run's page goes when it stays in memory rather than going to a file: the
// library's and the preview's way of taking a page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvix {

// Receives the page of a run in pieces, in order, instead of the output stream (a
// conversion in memory).
class PageSink_CL {
 public:
  virtual ~PageSink_CL() = default;
  // The page's size, told before its first byte. With `adoptsBody`, the body will be
  // offered to AdoptBody instead of written.
  virtual void Reserve(std::uint64_t size, bool adoptsBody) {
    (void)size;
    (void)adoptsBody;
  }
  // Takes the body's buffer as the page's from here on, the bytes written so far put in
  // front of it, instead of a copy of it: a page in memory then costs the body once.
  virtual void AdoptBody(std::string&& body) { Write(body); }
  virtual void Write(std::string_view bytes) = 0;
};

}  // namespace tarvix
