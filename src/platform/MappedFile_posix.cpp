// Documents mapped into memory on POSIX, and the guard that keeps a file cut short under
// its mapping from ending the process: the bus error such a page raises is answered with
// a page of zeros, and the mapping is marked damaged so that the page is made anew.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/Cleanup.h"
#include "platform/Platform.h"

namespace tarvix::platform {
namespace {

// One mapping per conversion, and conversions on far more threads than any machine has
// cores; a mapping that finds the table full is read instead.
constexpr int kMapSlots = 256;

enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };

// Where a mapping lies, for the bus-error handler, which may neither lock nor allocate.
struct MapSlot {
  std::atomic<int> state{kFree};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<bool> damaged{false};
};

// Process-wide by nature: the signal goes to the process, whichever thread mapped the file.
MapSlot mapSlots[kMapSlots];
// Written once, before the handler that reads them is installed.
struct sigaction previousBusAction;
std::uintptr_t pageSize = 4096;
std::once_flag busGuardInstalled;

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// A bus error that is none of ours goes where it would have gone without us.
void PassOnBusError(int signal, siginfo_t* info, void* context) {
  if ((previousBusAction.sa_flags & SA_SIGINFO) != 0 && previousBusAction.sa_sigaction != nullptr) {
    previousBusAction.sa_sigaction(signal, info, context);
    return;
  }
  if ((previousBusAction.sa_flags & SA_SIGINFO) == 0 && previousBusAction.sa_handler != SIG_DFL &&
      previousBusAction.sa_handler != SIG_IGN) {
    previousBusAction.sa_handler(signal);
    return;
  }
  // The default action (or none): once the handler returns, a faulting access faults again
  // under it, and a signal that was sent rather than caused arrives again.
  sigaction(signal, &previousBusAction, nullptr);
  if (info->si_code <= 0)
    raise(signal);
}

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (MapSlot& slot : mapSlots) {
    if (slot.state.load(std::memory_order_acquire) != kReady)
      continue;
    if (address < slot.begin.load(std::memory_order_relaxed) ||
        address >= slot.end.load(std::memory_order_relaxed))
      continue;
    // The page lies past the file's new end. Zeros in its place let the access finish and
    // the conversion run to its end, where the damage is seen.
    void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
    if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) ==
        MAP_FAILED)
      break;
    slot.damaged.store(true, std::memory_order_release);
    return;
  }
  PassOnBusError(signal, info, context);
}

void InstallBusGuard() {
  std::call_once(busGuardInstalled, [] {
    const long size = sysconf(_SC_PAGESIZE);
    if (size > 0)
      pageSize = static_cast<std::uintptr_t>(size);
    if (sigaction(SIGBUS, nullptr, &previousBusAction) != 0)
      return;
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(SIGBUS, &action, nullptr);
  });
}

int TakeSlot(std::uintptr_t begin, std::uintptr_t end) {
  for (int i = 0; i < kMapSlots; ++i) {
    int expected = kFree;
    if (!mapSlots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire))
      continue;
    mapSlots[i].begin.store(begin, std::memory_order_relaxed);
    mapSlots[i].end.store(end, std::memory_order_relaxed);
    mapSlots[i].damaged.store(false, std::memory_order_relaxed);
    mapSlots[i].state.store(kReady, std::memory_order_release);
    return i;
  }
  return -1;
}

}  // namespace

MappedFile::~MappedFile() {
  // The slot goes first: once unmapped, the range may be given to anything else.
  if (slot_ >= 0)
    mapSlots[slot_].state.store(kFree, std::memory_order_release);
  if (address_ != nullptr)
    munmap(address_, size_);
  if (descriptor_ >= 0)
    close(descriptor_);
}

bool MapFile(const std::string& path, MappedFile* file) {
  // Opening a FIFO would wait for a writer, and closing it again could cost that writer
  // its reader: only a path that names a regular file is opened here.
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0)
    return false;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return false;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
    close(fd);
    return false;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  InstallBusGuard();
  void* address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (address == MAP_FAILED) {
    close(fd);
    return false;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  const int slot = TakeSlot(begin, begin + size);
  if (slot < 0) {
    munmap(address, size);
    close(fd);
    return false;
  }
  // The conversion reads the document from its start to its end.
  madvise(address, size, MADV_SEQUENTIAL);
  file->address_ = address;
  file->size_ = size;
  file->descriptor_ = fd;
  file->slot_ = slot;
  file->fileSize_ = static_cast<std::uint64_t>(info.st_size);
  file->modified_ = Nanoseconds(info.st_mtim);
  file->changed_ = Nanoseconds(info.st_ctim);
  return true;
}

void ReleaseMapped(MappedFile& file, std::size_t upTo) {
  if (file.address_ == nullptr)
    return;
  const std::size_t length = std::min(upTo, file.size_) & ~(pageSize - 1);
  if (length > 0)
    madvise(file.address_, length, MADV_DONTNEED);
}

bool MappingIntact(const MappedFile& file) {
  if (file.address_ == nullptr)
    return true;
  if (mapSlots[file.slot_].damaged.load(std::memory_order_acquire))
    return false;
  struct stat info;
  if (fstat(file.descriptor_, &info) != 0)
    return false;
  return static_cast<std::uint64_t>(info.st_size) == file.fileSize_ &&
         Nanoseconds(info.st_mtim) == file.modified_ && Nanoseconds(info.st_ctim) == file.changed_;
}

bool ReadMappedFile(const MappedFile& file, std::string* bytes, std::string* reason) {
  bytes->clear();
  struct stat info;
  if (file.descriptor_ < 0 || fstat(file.descriptor_, &info) != 0) {
    if (reason != nullptr)
      *reason = ErrnoText(file.descriptor_ < 0 ? EBADF : errno);
    return false;
  }
  if (info.st_size > 0) {
    bytes->reserve(static_cast<std::size_t>(info.st_size));
    AdviseLargeBuffer(bytes->data(), bytes->capacity());
  }
  char buffer[65536];
  for (off_t at = 0;;) {
    const ssize_t got = pread(file.descriptor_, buffer, sizeof buffer, at);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      if (reason != nullptr)
        *reason = ErrnoText(errno);
      bytes->clear();
      return false;
    }
    if (got == 0)
      return true;
    bytes->append(buffer, static_cast<std::size_t>(got));
    at += got;
  }
}

}  // namespace tarvix::platform
