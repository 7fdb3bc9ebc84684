// Folder watching, stop signals and temporary folders on POSIX. Linux tells of changes
// through inotify; elsewhere FolderWatch declines and the preview polls.
#include <errno.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <set>

#include "platform/Platform.h"
#include "platform/Watch.h"

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace tarvix::platform {
namespace {

// Each watched folder costs the user a watch of a limited number (8192 by default on
// Linux); a site with more folders than this is polled instead.
constexpr std::size_t kMaxWatchedFolders = 4096;
// Deeper folders than this are not watched, as the site run does not walk them.
constexpr std::size_t kMaxWatchDepth = 64;

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) {
  stopRequested.store(true);
}

}  // namespace

struct FolderWatch::State {
  int descriptor = -1;
  std::set<std::string> watched;
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}

FolderWatch::~FolderWatch() {
  if (state_->descriptor >= 0)
    close(state_->descriptor);
}

#if defined(__linux__)

bool FolderWatch::Start(const std::vector<WatchedFolder>& folders) {
  if (state_->descriptor < 0) {
    state_->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state_->descriptor < 0)
      return false;
  }
  constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                  IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                  IN_MOVE_SELF;
  struct Pending {
    std::string path;
    std::size_t depth;
    bool subfolders;
  };
  std::vector<Pending> pending;
  for (const WatchedFolder& folder : folders)
    pending.push_back({folder.path, 0, folder.subfolders});
  while (!pending.empty()) {
    const Pending folder = std::move(pending.back());
    pending.pop_back();
    if (state_->watched.count(folder.path) == 0) {
      if (state_->watched.size() >= kMaxWatchedFolders)
        return false;
      if (inotify_add_watch(state_->descriptor, folder.path.c_str(), kMask | IN_ONLYDIR) < 0)
        return false;
      state_->watched.insert(folder.path);
    }
    if (!folder.subfolders || folder.depth >= kMaxWatchDepth)
      continue;
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder.path, &entries))
      continue;
    for (const FolderEntry& entry : entries) {
      // The site run skips hidden entries and links, whose targets inside the folder are
      // watched where they are.
      if (entry.kind != EntryKind::Folder || entry.link || entry.name.empty() ||
          entry.name[0] == '.')
        continue;
      pending.push_back({folder.path + "/" + entry.name, folder.depth + 1, true});
    }
  }
  return true;
}

WatchWait FolderWatch::Wait(int milliseconds) {
  if (state_->descriptor < 0)
    return WatchWait::Failed;
  pollfd ready{state_->descriptor, POLLIN, 0};
  const int count = poll(&ready, 1, milliseconds);
  if (count < 0)
    return errno == EINTR ? WatchWait::Quiet : WatchWait::Failed;
  if (count == 0)
    return WatchWait::Quiet;
  // Every event queued so far is taken; what they name does not matter to the caller.
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t length = read(state_->descriptor, buffer, sizeof buffer);
    if (length <= 0)
      break;
  }
  return WatchWait::Changed;
}

#else

bool FolderWatch::Start(const std::vector<WatchedFolder>&) {
  return false;
}

WatchWait FolderWatch::Wait(int) {
  return WatchWait::Failed;
}

#endif

void StopOnSignals() {
  // A closed terminal sends a hangup: the preview ends as at an interrupt, its temporary
  // folder removed.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

bool StopRequested() {
  return stopRequested.load();
}

bool CreateTemporaryFolder(const std::string& prefix, std::string* path) {
  std::string name = TemporaryFolder();
  if (name.empty() || name.back() != '/')
    name.push_back('/');
  name += prefix + "XXXXXX";
  if (mkdtemp(name.data()) == nullptr)
    return false;
  *path = std::move(name);
  return true;
}

std::int64_t UnixSeconds(std::int64_t stampTime) {
  constexpr std::int64_t kPerSecond = 1000000000;
  return stampTime >= 0 ? stampTime / kPerSecond : -((-stampTime + kPerSecond - 1) / kPerSecond);
}

}  // namespace tarvix::platform
