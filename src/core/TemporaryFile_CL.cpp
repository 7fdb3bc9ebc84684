// The temporary output file.
#include "core/TemporaryFile_CL.h"

#include "platform/Platform.h"

namespace tarvix {

TemporaryFile_CL::~TemporaryFile_CL() {
  Discard();
}

void TemporaryFile_CL::Discard() {
  if (!path.empty())
    platform::RemoveFile(path);
  path.clear();
  // Only once the file is gone: a signal in between finds nothing left to delete.
  platform::UnregisterCleanupFile(cleanupSlot_);
  cleanupSlot_ = -1;
}

int TemporaryFile_CL::Create(const std::string& prefix, std::string* reason,
                             const std::string& folder) {
  std::string made;
  // A signal between the file's creation and its registration would leave it behind.
  const platform::HeldSignals held;
  // A signal's handler has begun deleting our files: one made now would stay behind.
  if (held.Stopping())
    return 0;
  if (!platform::CreateTemporaryFile(prefix, &made, reason, folder))
    return 0;
  Discard();
  path = made;
  cleanupSlot_ = platform::RegisterCleanupFile(path);
  return 1;
}

int TemporaryFile_CL::Commit(const std::string& target, std::string* reason) {
  if (!platform::ReplaceFile(path, target, reason))
    return 0;
  path.clear();
  platform::UnregisterCleanupFile(cleanupSlot_);
  cleanupSlot_ = -1;
  return 1;
}

}  // namespace tarvix
