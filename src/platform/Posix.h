// What the POSIX files of the platform layer share beyond Platform.h.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace tarvix::platform {

// The process's file-creation mask, read once without changing it.
[[nodiscard]] mode_t ProcessUmask();
// The permission bits a new file gets from this process: what a plain fopen would create.
[[nodiscard]] mode_t NewFileMode();
// Reads the open file `fd` when it is a regular file of at most `maxBytes`, from where it
// stands to the size it had when looked at; `bytes` may hold a part when not kRead.
[[nodiscard]] ReadResult ReadOpenedRegularFile(int fd, std::uint64_t maxBytes, std::string* bytes);

}  // namespace tarvix::platform
