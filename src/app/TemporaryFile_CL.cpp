// The temporary output file.
#include "app/TemporaryFile_CL.h"

#include "platform/Platform.h"

namespace tarvix {

TemporaryFile_CL::~TemporaryFile_CL() {
  if (!path.empty())
    platform::RemoveFile(path);
  path.clear();
}

int TemporaryFile_CL::Create(const std::string& prefix) {
  std::string made;
  if (!platform::CreateTemporaryFile(prefix, &made))
    return 0;
  path = made;
  return 1;
}

int TemporaryFile_CL::Commit(const std::string& target) {
  if (!platform::ReplaceFile(path, target))
    return 0;
  path.clear();
  return 1;
}

}  // namespace tarvix
