// What the POSIX files of the platform layer share beyond Platform.h.
#pragma once

#include <sys/types.h>

namespace tarvix::platform {

// The process's file-creation mask, read once without changing it.
[[nodiscard]] mode_t ProcessUmask();
// The permission bits a new file gets from this process: what a plain fopen would create.
[[nodiscard]] mode_t NewFileMode();

}  // namespace tarvix::platform
