// What the live preview asks of the system beyond Platform.h: news of changes in folders,
// a stop asked for by a signal, and a temporary folder of its own.
// Watch_posix.cpp implements it on POSIX (inotify on Linux), Watch_win32.cpp on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tarvix::platform {

struct WatchedFolder {
  std::string path;
  bool subfolders = false;  // everything below it too, not only its own entries
};

enum class WatchWait { Changed, Quiet, Failed };

// FolderWatch is told by the system when an entry of a watched folder is created, written,
// renamed or deleted. It only says that something changed, never what: the caller looks
// for itself. Where the system cannot watch (no inotify, too many folders), Start fails and
// the caller polls instead. One thread uses it.
class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Adds `folders` (with the folders below those that ask for it) to what is watched. What
  // was watched stays watched and changes already noticed are kept, so a change made while
  // the caller was busy is still told by the next Wait. False when the system cannot watch
  // them all; the caller must then poll.
  [[nodiscard]] bool Start(const std::vector<WatchedFolder>& folders);
  // Waits at most `milliseconds` for a change, and takes every change that came so far.
  [[nodiscard]] WatchWait Wait(int milliseconds);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Makes interrupt, termination and hangup (Ctrl+C and closing the console on Windows) ask the
// process to stop, which StopRequested tells, instead of ending it: a program that serves
// until stopped then ends the way it chooses.
void StopOnSignals();
[[nodiscard]] bool StopRequested();

// Makes a new, empty, uniquely named folder in the temporary folder whose name starts with
// `prefix`, and stores its path.
[[nodiscard]] bool CreateTemporaryFolder(const std::string& prefix, std::string* path);

// A file stamp's modification time as whole seconds since 1970 (what HTTP dates hold).
[[nodiscard]] std::int64_t UnixSeconds(std::int64_t stampTime);

}  // namespace tarvix::platform
