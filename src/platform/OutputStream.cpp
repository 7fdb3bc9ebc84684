// Writing and closing the page's output stream: the C stream alone, the same on every
// system (opening it is each system's own, in its platform file).
#include <cstdio>
#include <string_view>

#include "platform/Platform.h"

namespace tarvix::platform {

bool OutputStream::Write(std::string_view bytes) {
  if (file_ == nullptr || failed_) {
    failed_ = true;
    return false;
  }
  if (bytes.empty()) {
    return true;
  }
  auto* stream = static_cast<std::FILE*>(file_);
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
    failed_ = true;
  }
  return !failed_;
}

bool OutputStream::Close() {
  if (file_ == nullptr) {
    return false;
  }
  auto* stream = static_cast<std::FILE*>(file_);
  if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
    failed_ = true;
  }
  if (ownsFile_ && std::fclose(stream) != 0) {
    failed_ = true;
  }
  file_ = nullptr;
  ownsFile_ = false;
  return !failed_;
}

}  // namespace tarvix::platform
