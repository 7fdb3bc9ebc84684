// What the two platform files share beyond Platform.h: the table of files a terminating
// signal removes, and the system's words for a C library error number.
#pragma once

#include <string>

namespace tarvix::platform {

// Calls `remove` with every registered path. Async-signal-safe: no allocation, no lock,
// only atomic loads, so a signal handler may call it.
void ForEachCleanupFile(void (*remove)(const char* path));

// The gate that keeps new files from appearing once a terminating signal's handler has
// begun. A thread about to create a file enters (inside HeldSignals) and leaves after
// registering it; the handler stops the gate, waits for those inside to leave (calling
// `pause` between looks, a bounded number of times), then deletes what is registered.
void EnterCreation();
void LeaveCreation();
[[nodiscard]] bool CreationStopped();
void StopCreation(void (*pause)());

// The system's words for the C library's error number `code` ("No space left on device").
[[nodiscard]] std::string ErrnoText(int code);

}  // namespace tarvix::platform
