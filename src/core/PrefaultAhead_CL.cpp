// The prefaulting helper: steps of a couple of megabytes, a short sleep when it is ahead.
#include "core/PrefaultAhead_CL.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>

#include "platform/Platform.h"

namespace tarvix {
namespace {

// One step of the helper: small enough that a Stop waits little for it, as large as a
// large page.
constexpr std::size_t kStep = std::size_t{2} << 20;
// How long the helper sleeps when it has caught up: the filler writes a few hundred
// kilobytes meanwhile, well inside any distance worth keeping.
constexpr auto kPause = std::chrono::milliseconds(1);

}  // namespace

void PrefaultAhead_CL::Start(std::string& buffer, std::size_t ahead) {
  Stop();
  if (!platform::kPrefaults || buffer.capacity() == 0 || ahead == 0)
    return;
  buffer_ = &buffer;
  data_ = buffer.data();
  size_ = buffer.capacity();
  ahead_ = ahead;
  reached_.store(buffer.size(), std::memory_order_relaxed);
  stop_.store(false, std::memory_order_relaxed);
  // Without a thread the conversion simply meets its memory as it writes.
  try {
    thread_ = std::thread(&PrefaultAhead_CL::Work, this);
    running_ = true;
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
}

void PrefaultAhead_CL::Stop() {
  if (running_) {
    stop_.store(true, std::memory_order_relaxed);
    thread_.join();
    running_ = false;
  }
  buffer_ = nullptr;
  data_ = nullptr;
}

void PrefaultAhead_CL::Work() {
  // What the filler wrote already (a buffer it moved into holds a copy) is ready.
  std::size_t done = reached_.load(std::memory_order_relaxed);
  while (!stop_.load(std::memory_order_relaxed) && done < size_) {
    const std::size_t reached = reached_.load(std::memory_order_relaxed);
    const std::size_t want = reached >= size_ ? size_ : reached + std::min(ahead_, size_ - reached);
    if (done >= want) {
      std::this_thread::sleep_for(kPause);
      continue;
    }
    const std::size_t step = std::min(kStep, want - done);
    if (!platform::PrefaultForWriting(data_ + done, step))
      return;  // the system cannot, or the memory is gone: nothing more to gain
    done += step;
  }
}

}  // namespace tarvix
