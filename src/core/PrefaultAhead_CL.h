// A second thread that makes a buffer's memory ready a little ahead of the thread filling
// it. Where a process's fresh memory is slow to come (on a virtual machine, each new page
// may first have to be found by the host), a page of a hundred megabytes spends a good part
// of its conversion waiting for it; made ready beside the conversion, it is there when the
// body reaches it. The helper keeps a bounded distance ahead of what the filler says it has
// reached, so that the memory held grows with the page, not with the buffer's reserve.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>

namespace tarvix {

class PrefaultAhead_CL {
 public:
  PrefaultAhead_CL() = default;
  virtual ~PrefaultAhead_CL() { Stop(); }
  PrefaultAhead_CL(const PrefaultAhead_CL&) = delete;
  PrefaultAhead_CL& operator=(const PrefaultAhead_CL&) = delete;

  // Starts the helper over the reserve of `buffer`: it makes ready the memory up to
  // `ahead` bytes past the buffer's size at the last Reach, never past its capacity. Does
  // nothing where the system cannot prefault or will not give a thread.
  void Start(std::string& buffer, std::size_t ahead);
  // The filler has written into `buffer` so far (any other string is not the helper's
  // and is ignored). A buffer that moved (it outgrew its reserve) is followed: the helper
  // starts again on its new place.
  void Reach(std::string& buffer) {
    if (&buffer != buffer_)
      return;
    if (buffer.data() != data_) {
      Start(buffer, ahead_);
      return;
    }
    reached_.store(buffer.size(), std::memory_order_relaxed);
  }
  [[nodiscard]] bool Running() const { return running_; }
  // Stops the helper and waits for it; the buffer is then the filler's alone, and later
  // Reaches do nothing.
  void Stop();

 private:
  void Work();

  std::string* buffer_ = nullptr;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t ahead_ = 0;
  std::atomic<std::size_t> reached_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool running_ = false;
};

}  // namespace tarvix
