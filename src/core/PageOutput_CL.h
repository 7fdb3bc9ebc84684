// Where a run writes its page when no sink takes it: the standard output, a device or a
// pipe that takes the page as it is written, or a temporary file that replaces the output
// file in one step once the whole page is in it, so that a failed run leaves the output
// file as it was. Parser_CL owns one; Init opens it and Run closes and commits it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/TemporaryFile_CL.h"
#include "platform/Platform.h"

namespace tarvix {

class PageOutput_CL {
 public:
  PageOutput_CL() = default;
  // The stream is closed first, before the temporary file it writes into is deleted.
  virtual ~PageOutput_CL() { stream_.reset(); }
  PageOutput_CL(const PageOutput_CL&) = delete;
  PageOutput_CL& operator=(const PageOutput_CL&) = delete;

  // Makes the stream, not yet open: each Open below opens it once.
  void Prepare() { stream_ = std::make_unique<platform::OutputStream>(); }
  void OpenStandardOutput() { stream_->OpenStandardOutput(); }
  // An existing node that is no regular file (a device, a pipe), written into as it is.
  [[nodiscard]] bool OpenNode(const std::string& path, std::string* reason);
  // A new temporary file whose name starts with `prefix`, in `folder` or, when that is
  // empty, the system's temporary folder. False when it cannot be made.
  [[nodiscard]] bool CreateTemporary(const std::string& prefix, const std::string& folder,
                                     std::string* reason) {
    return temporary_.Create(prefix, reason, folder) != 0;
  }
  // Opens the stream on the temporary file just made.
  [[nodiscard]] bool OpenTemporary(std::string* reason) {
    return stream_->OpenFile(temporary_.path, reason);
  }
  [[nodiscard]] const std::string& TemporaryPath() const { return temporary_.path; }
  // True when the page goes into an existing node rather than a temporary file.
  [[nodiscard]] bool IntoNode() const { return intoNode_; }

  // Appends to the page; a failed write is remembered for Close.
  void Write(std::string_view bytes) {
    if (stream_ && !stream_->Write(bytes))
      writeFailed_ = true;
  }
  // Flushes and closes the stream. False when any of the page failed to reach its place;
  // `reason` gets the system's words, if it gave any.
  [[nodiscard]] bool Close(std::string* reason);
  // Renames the temporary file onto `target`. False leaves the target as it was.
  [[nodiscard]] bool Commit(const std::string& target, std::string* reason) {
    return temporary_.Commit(target, reason) != 0;
  }
  // Drops the page: the stream is closed and the temporary file, if any, deleted.
  void Discard() {
    stream_.reset();
    temporary_.Discard();
  }

 private:
  std::unique_ptr<platform::OutputStream> stream_;
  TemporaryFile_CL temporary_;
  bool intoNode_ = false;
  bool writeFailed_ = false;
};

}  // namespace tarvix
