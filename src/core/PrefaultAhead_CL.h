// A second thread that makes a buffer's memory ready a little ahead of the thread filling
// it. Where a process's fresh memory is slow to come (on a virtual machine, each new page
// may first have to be found by the host), a page of a hundred megabytes spends a good part
// of its conversion waiting for it; made ready beside the conversion, it is there when the
// body reaches it. The helper keeps a bounded distance ahead of what the filler says it has
// reached, so that the memory held grows with the page, not with the buffer's reserve.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

namespace tarvix {

class PrefaultAhead_CL {
 public:
  PrefaultAhead_CL() = default;
  virtual ~PrefaultAhead_CL() { Stop(); }
  PrefaultAhead_CL(const PrefaultAhead_CL&) = delete;
  PrefaultAhead_CL& operator=(const PrefaultAhead_CL&) = delete;

  // Starts the helper over the `size` bytes at `data`: it makes ready the memory up to
  // `ahead` bytes past the last Reach, never past the end. Does nothing where the system
  // cannot prefault or will not give a thread.
  void Start(char* data, std::size_t size, std::size_t ahead);
  // The filler has written the first `used` bytes of the buffer now at `data`. A buffer
  // that moved (it outgrew its reserve) is no longer the helper's: it stops.
  void Reach(const char* data, std::size_t used) {
    if (!running_)
      return;
    if (data != data_) {
      Stop();
      return;
    }
    reached_.store(used, std::memory_order_relaxed);
  }
  [[nodiscard]] bool Running() const { return running_; }
  // Stops the helper and waits for it; the buffer is then the filler's alone.
  void Stop();

 private:
  void Work();

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t ahead_ = 0;
  std::atomic<std::size_t> reached_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool running_ = false;
};

}  // namespace tarvix
