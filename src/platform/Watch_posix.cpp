// Folder watching, stop signals and temporary folders on POSIX. Linux tells of changes
// through inotify; elsewhere FolderWatch declines and the preview polls.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>

#include "platform/Platform.h"
#include "platform/Watch.h"

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace tarvix::platform {
namespace {

// Each watched folder costs the user a watch of a limited number: half of what the system
// gives a user (8192 on older Linux, a share of the memory on newer), never less than
// kMinWatchedFolders; a site with more folders than that is polled instead.
constexpr std::size_t kMinWatchedFolders = 4096;
constexpr const char* kUserWatchesFile = "/proc/sys/fs/inotify/max_user_watches";
// Deeper folders than this are not watched, as the site run does not walk them.
constexpr std::size_t kMaxWatchDepth = 64;

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int) {
  stopRequested.store(true);
}

}  // namespace

struct FolderWatch::State {
  int descriptor = -1;
  std::size_t maxWatched = kMinWatchedFolders;
  std::set<std::string> watched;
  // The folders below a watched folder were listed, and no folder came into one since: the
  // next Start adds only folders it is given anew.
  bool listed = false;
  // News taken by Start, told by the next Wait.
  bool changed = false;
};

FolderWatch::FolderWatch() : state_(std::make_unique<State>()) {}

FolderWatch::~FolderWatch() {
  if (state_->descriptor >= 0)
    close(state_->descriptor);
}

#if defined(__linux__)

namespace {

// Takes every event queued on `descriptor`; true when there was one. A folder made or moved
// into a watched folder, or events lost, clear `listed`: the folders must be listed again.
bool TakeEvents(int descriptor, bool* listed) {
  alignas(inotify_event) char buffer[16384];
  bool any = false;
  for (;;) {
    const ssize_t length = read(descriptor, buffer, sizeof buffer);
    if (length <= 0)
      break;
    any = true;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      if ((event.mask & IN_Q_OVERFLOW) != 0 ||
          ((event.mask & IN_ISDIR) != 0 && (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0))
        *listed = false;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
  return any;
}

// Half the watches the system gives a user, when it says.
std::size_t MaxWatchedFolders() {
  // A file of the kernel's own: its size says nothing, its first bytes are the number.
  char text[32];
  const int fd = open(kUserWatchesFile, O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return kMinWatchedFolders;
  const ssize_t length = read(fd, text, sizeof text);
  close(fd);
  std::size_t value = 0;
  for (ssize_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9' || value > (std::size_t{1} << 40))
      break;
    value = value * 10 + static_cast<std::size_t>(text[i] - '0');
  }
  return std::max(kMinWatchedFolders, value / 2);
}

}  // namespace

bool FolderWatch::Start(const std::vector<WatchedFolder>& folders) {
  if (state_->descriptor < 0) {
    state_->descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (state_->descriptor < 0)
      return false;
    state_->maxWatched = MaxWatchedFolders();
  }
  // What came meanwhile is kept for Wait, and says whether new folders may be about.
  if (TakeEvents(state_->descriptor, &state_->listed))
    state_->changed = true;
  // Listing every folder of a large input again after each rerun would cost more than the
  // rerun: the folders already watched are listed only when one may have come in below.
  const bool listAll = !state_->listed;
  constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE |
                                  IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                                  IN_MOVE_SELF;
  struct Pending {
    std::string path;
    std::size_t depth;
    bool subfolders;
  };
  std::vector<Pending> pending;
  std::set<std::pair<std::uint64_t, std::uint64_t>> skipped;
  for (const WatchedFolder& folder : folders) {
    pending.push_back({folder.path, 0, folder.subfolders});
    FileStatus skip;
    if (!folder.skip.empty() && StatusOf(folder.skip, &skip))
      skipped.insert({skip.device, skip.inode});
  }
  while (!pending.empty()) {
    const Pending folder = std::move(pending.back());
    pending.pop_back();
    const bool added = state_->watched.count(folder.path) == 0;
    if (added) {
      if (state_->watched.size() >= state_->maxWatched)
        return false;
      if (inotify_add_watch(state_->descriptor, folder.path.c_str(), kMask | IN_ONLYDIR) < 0)
        return false;
      state_->watched.insert(folder.path);
    }
    if (!folder.subfolders || folder.depth >= kMaxWatchDepth || (!added && !listAll))
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
      const std::string path = folder.path + "/" + entry.name;
      FileStatus status;
      if (!skipped.empty() && StatusOf(path, &status) &&
          skipped.count({status.device, status.inode}) != 0)
        continue;
      pending.push_back({path, folder.depth + 1, true});
    }
  }
  state_->listed = true;
  return true;
}

WatchWait FolderWatch::Wait(int milliseconds) {
  if (state_->descriptor < 0)
    return WatchWait::Failed;
  if (std::exchange(state_->changed, false))
    return WatchWait::Changed;
  pollfd ready{state_->descriptor, POLLIN, 0};
  const int count = poll(&ready, 1, milliseconds);
  if (count < 0)
    return errno == EINTR ? WatchWait::Quiet : WatchWait::Failed;
  if (count == 0)
    return WatchWait::Quiet;
  // Every event queued so far is taken; what they name does not matter to the caller, but
  // whether a folder came in does to the next Start.
  (void)TakeEvents(state_->descriptor, &state_->listed);
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
