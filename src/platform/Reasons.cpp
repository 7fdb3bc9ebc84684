// The words a message gives for a file that is not the regular file a run needed: one
// list for both systems, which differ only in the kind that is none of the others.
#include "platform/Platform.h"

namespace tarvix::platform {

std::string NotRegularReason(FileKind kind) {
  switch (kind) {
    case FileKind::Regular:
      return {};
    case FileKind::Folder:
      return "Is a directory";
    case FileKind::Device:
      return "Is a device";
    case FileKind::Pipe:
      return "Is a pipe";
    case FileKind::Other:
      break;
  }
  return OtherKindReason();
}

}  // namespace tarvix::platform
