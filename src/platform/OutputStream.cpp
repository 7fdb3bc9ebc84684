// Writing and closing the page's output stream: the C stream alone, the same on every
// system (opening it is each system's own, in its platform file).
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "platform/Cleanup.h"
#include "platform/Platform.h"

namespace tarvix::platform {

void OutputStream::Hold(void* file) {
  file_ = file;
  ownsFile_ = true;
  failed_ = false;
  reason_.clear();
}

void OutputStream::Fail() {
  // The first failure is the one that says why; later ones follow from it.
  if (!failed_ && reason_.empty() && errno != 0)
    reason_ = ErrnoText(errno);
  failed_ = true;
}

bool OutputStream::Write(std::string_view bytes) {
  if (file_ == nullptr || failed_) {
    failed_ = true;
    return false;
  }
  if (bytes.empty()) {
    return true;
  }
  auto* stream = static_cast<std::FILE*>(file_);
  errno = 0;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
    Fail();
  }
  return !failed_;
}

bool OutputStream::Close() {
  if (file_ == nullptr) {
    return false;
  }
  auto* stream = static_cast<std::FILE*>(file_);
  errno = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
    Fail();
  }
  errno = 0;
  if (ownsFile_ && std::fclose(stream) != 0) {
    Fail();
  }
  file_ = nullptr;
  ownsFile_ = false;
  return !failed_;
}

}  // namespace tarvix::platform
