// The temporary file that receives the page when an output file is named, so that an
// existing output is replaced in one step and a failed run leaves it untouched.
#pragma once

#include <string>

namespace tarvix {

// Empty -> holding (after Create) -> empty again after Commit (the file is now the
// target) or after destruction (the file is deleted). The stream writing into the file
// must be closed before Commit or destruction. While it is held, a terminating signal
// deletes the file too.
class TemporaryFile_CL {
 public:
  TemporaryFile_CL() = default;
  virtual ~TemporaryFile_CL();
  TemporaryFile_CL(const TemporaryFile_CL&) = delete;
  TemporaryFile_CL& operator=(const TemporaryFile_CL&) = delete;

  // A new, empty, uniquely named file in the temporary folder whose name starts with
  // `prefix`, or a hidden one in `folder` when that is given. 1 on success, 0 on failure
  // (`reason` says why, when given).
  [[nodiscard]] int Create(const std::string& prefix, std::string* reason = nullptr,
                           const std::string& folder = std::string());
  // Moves the file onto `target`. 1 on success; 0 leaves the target as it was.
  [[nodiscard]] int Commit(const std::string& target, std::string* reason = nullptr);
  // Deletes the file now rather than at destruction; nothing when none is held.
  void Discard();

  std::string path;

 private:
  int cleanupSlot_ = -1;  // where a signal finds the file
};

}  // namespace tarvix
