// Counts the nesting of a recursive renderer (the inline runs, the lists) for as long as
// one level of it runs, so that each can stop at its named limit.
#pragma once

namespace tarvix {

// One more level of `depth` while the guard lives; the level is given back on every way
// out of the renderer.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace tarvix
