// The table of files that must not outlive the process when a signal ends it. Several
// conversions may run at once on several threads, each with a temporary file and perhaps
// a partial copy beside its target, so the table has fixed slots taken and given back
// with atomics, and the paths sit in it ready for a handler that may not allocate.
#include "platform/Cleanup.h"

#include <atomic>
#include <cstring>

#include "platform/Platform.h"

namespace tarvix::platform {
namespace {

// Two files per worker (a page's temporary file and a copy across file systems beside its
// target) for the most workers a site run starts, and a few more: the state file's.
constexpr int kCleanupSlots = 2 * 256 + 8;
// How long a handler waits for creators to leave the gate: a thousand pauses of about a
// millisecond. A creator stuck longer (a file system gone away) may leave its file.
constexpr int kStopPauses = 1000;
// The longest path the system opens (PATH_MAX on Linux), with its NUL.
constexpr std::size_t kCleanupPathBytes = 4096;

enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };

struct CleanupSlot {
  std::atomic<int> state{kFree};
  char path[kCleanupPathBytes]{};
};

// Process-wide by nature: a signal ends the whole process, whichever thread made the file.
// Zero at compile time, so the table costs no start-up work and no memory until used: two
// megabytes initialised at start-up would cost every run hundreds of page faults.
constinit CleanupSlot cleanupSlots[kCleanupSlots];
// The creation gate: threads between the start of a creation and its registration, and
// whether a handler has stopped new creations. Sequentially consistent on both sides, so
// that either a creator sees the stop or the handler sees the creator.
std::atomic<int> creators{0};
std::atomic<bool> creationStopped{false};

}  // namespace

int RegisterCleanupFile(const std::string& path) {
  if (path.empty() || path.size() >= kCleanupPathBytes)
    return -1;
  for (int i = 0; i < kCleanupSlots; ++i) {
    int expected = kFree;
    if (!cleanupSlots[i].state.compare_exchange_strong(expected, kFilling,
                                                       std::memory_order_acquire))
      continue;
    std::memcpy(cleanupSlots[i].path, path.c_str(), path.size() + 1);
    cleanupSlots[i].state.store(kReady, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterCleanupFile(int slot) {
  if (slot < 0 || slot >= kCleanupSlots)
    return;
  cleanupSlots[slot].state.store(kFree, std::memory_order_release);
}

void ForEachCleanupFile(void (*remove)(const char* path)) {
  for (CleanupSlot& slot : cleanupSlots) {
    if (slot.state.load(std::memory_order_acquire) == kReady)
      remove(slot.path);
  }
}

void EnterCreation() {
  creators.fetch_add(1);
}

void LeaveCreation() {
  creators.fetch_sub(1);
}

bool CreationStopped() {
  return creationStopped.load();
}

void StopCreation(void (*pause)()) {
  creationStopped.store(true);
  for (int i = 0; i < kStopPauses && creators.load() > 0; ++i)
    pause();
}

}  // namespace tarvix::platform
