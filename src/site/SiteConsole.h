// What a site run prints while it works: each task's messages as the task ends, prefixed
// with its file, and the progress line between them on a terminal.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "core/Messages.h"

namespace tarvix {

// SiteConsole_CL keeps the console to one writer at a time: a task's lines come out
// together, and the progress line is cleared before anything else is printed. Every
// member may be called from several threads at once.
class SiteConsole_CL {
 public:
  SiteConsole_CL() = default;
  virtual ~SiteConsole_CL() = default;
  SiteConsole_CL(const SiteConsole_CL&) = delete;
  SiteConsole_CL& operator=(const SiteConsole_CL&) = delete;

  // Before the tasks: how many there are, and whether to show how far they got.
  void Begin(std::size_t total, bool showProgress);
  // Tasks found once the work began.
  void AddTasks(std::size_t more);
  // Prints `messages` prefixed with `path`, counts one task done and redraws the progress.
  void Report(const std::string& path, const CollectedMessages_CL& messages);
  // Counts one task done that has nothing to say (an unchanged page or copy): no path needs
  // to be made for it.
  void Done();
  // Prints `line` as an error, at once.
  void Say(const std::string& line);
  // Takes the progress line away.
  void ClearProgress();

 private:
  void ClearProgressLocked();
  void DoneLocked();

  std::mutex mutex_;  // guards what follows, and the console
  bool showProgress_ = false;
  std::size_t done_ = 0;
  std::size_t total_ = 0;
  std::size_t progressWidth_ = 0;
};

}  // namespace tarvix
