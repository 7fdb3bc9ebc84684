// The page's output: opening a node, closing the stream.
#include "core/PageOutput_CL.h"

namespace tarvix {

bool PageOutput_CL::OpenNode(const std::string& path, std::string* reason) {
  intoNode_ = true;
  return stream_->OpenNode(path, reason);
}

bool PageOutput_CL::Close(std::string* reason) {
  const bool closed = stream_->Close();
  *reason = stream_->FailureReason();
  stream_.reset();
  return closed && !writeFailed_;
}

}  // namespace tarvix
