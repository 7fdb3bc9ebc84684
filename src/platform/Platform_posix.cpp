// The platform layer on POSIX calls.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

#include "platform/Cleanup.h"
#include "platform/Platform.h"
#include "platform/Posix.h"

namespace tarvix::platform {

const char kPathSeparator = '/';
const std::int64_t kStampUnitsPerSecond = 1000000000;
#ifdef MADV_POPULATE_WRITE
const bool kPrefaults = true;
#else
const bool kPrefaults = false;
#endif

namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// The current folder, or "" when it cannot be found out.
std::string CurrentFolder() {
  std::vector<char> buffer(256);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) {
      return {};
    }
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

// A chain of links longer than this is a loop; the system gives up at the same depth.
constexpr int kMaxLinkDepth = 40;

void SetReason(std::string* reason, int code) {
  if (reason != nullptr)
    *reason = ErrnoText(code);
}

}  // namespace

// The process's file-creation mask. Reading it with umask() means setting it for a moment,
// which would change the files another conversion's thread creates meanwhile, so it is
// read from the system's account of the process, once; only where there is none is it
// read the other way, at the first call (PrepareProcess makes that call before any thread
// starts).
mode_t ProcessUmask() {
  static const mode_t mask = [] {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("Umask:", 0) == 0)
        return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
    }
    const mode_t old = umask(0);
    umask(old);
    return old;
  }();
  return mask;
}

// The permission bits a new file gets from this process: what a plain fopen would create.
mode_t NewFileMode() {
  return 0666 & ~ProcessUmask();
}

namespace {

FileKind KindOf(mode_t mode) {
  if (S_ISREG(mode))
    return FileKind::Regular;
  if (S_ISDIR(mode))
    return FileKind::Folder;
  if (S_ISFIFO(mode))
    return FileKind::Pipe;
  if (S_ISCHR(mode) || S_ISBLK(mode))
    return FileKind::Device;
  return FileKind::Other;
}

// The file a path finally names: each link in turn replaced by what it names, so a
// replacement lands on that file and the links stay. A link naming nothing yet gives the
// name it holds. Nothing when the links loop.
std::optional<std::string> ResolveLinks(const std::string& path) {
  std::string current = path;
  for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
    struct stat info;
    if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
      return current;
    std::vector<char> buffer(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
    const ssize_t length = readlink(current.c_str(), buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
      return current;
    std::string named(buffer.data(), static_cast<std::size_t>(length));
    if (named.front() != '/') {
      const std::size_t slash = current.rfind('/');
      named.insert(0, slash == std::string::npos ? "" : current.substr(0, slash + 1));
    }
    current = std::move(named);
  }
  return std::nullopt;
}

void RemoveOnSignal(const char* path) {
  unlink(path);
}

void PauseBriefly() {
  const timespec pause{0, 1000000};
  nanosleep(&pause, nullptr);
}

extern "C" void OnTerminatingSignal(int signal) {
  // Other threads go on while we delete: first no new file may appear.
  StopCreation(PauseBriefly);
  ForEachCleanupFile(RemoveOnSignal);
  // Then the end the signal would have made: the default action, once the handler returns
  // and the signal is no longer blocked.
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

// The folder part of `path` with its trailing '/', or "" for a bare name.
std::string FolderPrefix(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a file from `pattern` (ending in "XXXXXX"), storing its path in `path`; returns the
// open descriptor or -1.
int CreateUniqueFile(const std::string& pattern, std::string* path) {
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd >= 0) {
    *path = name.data();
  }
  return fd;
}

// The same, with the file registered for removal by a terminating signal before any such
// signal can end the process; `slot` gets the registration.
int CreateRegisteredFile(const std::string& pattern, std::string* path, int* slot) {
  const HeldSignals held;
  if (held.Stopping()) {
    errno = EINTR;
    *slot = -1;
    return -1;
  }
  const int fd = CreateUniqueFile(pattern, path);
  *slot = fd >= 0 ? RegisterCleanupFile(*path) : -1;
  return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

// Appends what the open descriptor `fd` holds, to its end, to `bytes`.
bool AppendAll(int fd, std::string* bytes, std::string* reason) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR)
        continue;
      SetReason(reason, errno);
      return false;
    }
    if (got == 0)
      return true;
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
}

// Copies the contents of the open descriptor `from` to the open descriptor `to`.
bool CopyContents(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (got == 0) {
      return true;
    }
    if (!WriteAll(to, buffer, static_cast<std::size_t>(got))) {
      return false;
    }
  }
}

// The owner and group a replaced file had, to give its successor.
struct Owner {
  uid_t user;
  gid_t group;
};

// `from` and `target` are on different file systems, so rename cannot move the page. Copy it
// next to the target first, then rename that copy over the target so the target still
// changes in one step: it is either the old file or the complete new one.
bool CopyAcrossFileSystems(const std::string& from, const std::string& target, mode_t mode,
                           const std::optional<Owner>& owner, std::string* reason) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    SetReason(reason, errno);
    return false;
  }
  const std::string folder = FolderPrefix(target);
  std::string copy;
  // A signal during the copy must not leave the partial copy beside the target.
  int slot = -1;
  const int fd = CreateRegisteredFile(folder + ".TarvixXXXXXX", &copy, &slot);
  if (fd < 0) {
    SetReason(reason, errno);
    close(source);
    return false;
  }
  bool ok = CopyContents(source, fd);
  close(source);
  ok = ok && fsync(fd) == 0;
  if (ok && owner)
    (void)!fchown(fd, owner->user, owner->group);
  ok = ok && fchmod(fd, mode) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(copy.c_str(), target.c_str()) == 0;
  if (!ok) {
    SetReason(reason, errno);
    unlink(copy.c_str());
    UnregisterCleanupFile(slot);
    return false;
  }
  UnregisterCleanupFile(slot);
  unlink(from.c_str());
  return true;
}

// A target that is a device or a pipe is written into, as cp would: replacing the node by a
// regular file would take the device away.
bool WriteIntoNode(const std::string& from, const std::string& node, std::string* reason) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    SetReason(reason, errno);
    return false;
  }
  const int fd = open(node.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    SetReason(reason, errno);
    close(source);
    return false;
  }
  bool ok = CopyContents(source, fd);
  const int copyError = errno;
  close(source);
  if (close(fd) != 0 && ok) {
    SetReason(reason, errno);
    return false;
  }
  if (!ok) {
    SetReason(reason, copyError);
    return false;
  }
  unlink(from.c_str());
  return true;
}

void WriteLine(std::FILE* stream, std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

bool IsOptionMarker(char c) {
  return c == '-';
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr) {
      arguments.emplace_back(argv[i]);
    }
  }
  return arguments;
}

std::string ErrnoText(int code) {
  char buffer[256];
  buffer[0] = '\0';
  // strerror_r comes in two forms: the GNU one returns the text, the POSIX one an int.
  struct Pick {
    const char* buffer;
    const char* operator()(int result) const { return result == 0 ? buffer : "Unknown error"; }
    const char* operator()(const char* text) const { return text; }
  };
  return Pick{buffer}(strerror_r(code, buffer, sizeof buffer));
}

void PrepareProcess() {
  if (std::setlocale(LC_ALL, "") == nullptr) {
    std::setlocale(LC_ALL, "C.UTF-8");
  }
  std::signal(SIGPIPE, SIG_IGN);
  (void)ProcessUmask();
  InstallSignalCleanup();
}

HeldSignals::HeldSignals() {
  static_assert(sizeof(sigset_t) <= sizeof saved_);
  sigset_t terminating;
  sigemptyset(&terminating);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&terminating, signal);
  pthread_sigmask(SIG_BLOCK, &terminating, reinterpret_cast<sigset_t*>(saved_));
  EnterCreation();
}

bool HeldSignals::Stopping() const {
  return CreationStopped();
}

HeldSignals::~HeldSignals() {
  LeaveCreation();
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

void InstallSignalCleanup() {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    if (sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
      continue;
    struct sigaction action {};
    action.sa_handler = OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

namespace {

void StatusFrom(const struct stat& info, FileStatus* status) {
  status->kind = KindOf(info.st_mode);
  status->size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  status->device = static_cast<std::uint64_t>(info.st_dev);
  status->inode = static_cast<std::uint64_t>(info.st_ino);
  status->changeTime =
      static_cast<std::int64_t>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
}

FileStamp StampFrom(const struct stat& info) {
  FileStamp stamp;
  stamp.exists = true;
  stamp.time = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  return stamp;
}

}  // namespace

bool StatusOf(const std::string& path, FileStatus* status, std::string* reason) {
  struct stat info;
  if (path.empty()) {
    SetReason(reason, ENOENT);
    return false;
  }
  if (stat(path.c_str(), &info) != 0) {
    SetReason(reason, errno);
    return false;
  }
  StatusFrom(info, status);
  return true;
}

std::string OtherKindReason() {
  return "Is a socket";
}

std::string ReadFailureReason(const std::string& path) {
  // Without blocking: a pipe with no writer yet would hold the open.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0)
    return ErrnoText(errno);
  struct stat info;
  std::string reason;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
    reason = ErrnoText(EISDIR);
  close(fd);
  return reason;
}

std::string TemporaryFolder() {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = (variable != nullptr && *variable != '\0') ? variable : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  return folder;
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string FullPath(const std::string& path) {
  std::string absolute;
  if (path.empty() || path.front() != '/') {
    absolute = CurrentFolder();
    if (absolute.empty()) {
      return {};
    }
    absolute.push_back('/');
  }
  absolute.append(path);

  // Resolved by name only: a link stays a link, so the page is written where the user said.
  std::vector<std::string_view> components;
  const std::string_view text = absolute;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    const std::string_view component = text.substr(start, end - start);
    if (component == "..") {
      if (!components.empty()) {
        components.pop_back();
      }
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    start = end + 1;
  }

  std::string result;
  result.reserve(absolute.size());
  for (std::string_view component : components) {
    result.push_back('/');
    result.append(component);
  }
  if (result.empty() || (!path.empty() && path.back() == '/')) {
    result.push_back('/');
  }
  return result;
}

bool ReadWholeFile(const std::string& path, bool /*textMode*/, std::string* bytes,
                   std::string* reason) {
  bytes->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetReason(reason, errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    SetReason(reason, S_ISDIR(info.st_mode) ? EISDIR : errno);
    close(fd);
    return false;
  }
  // Other kinds of file (a pipe, a terminal) are read too: their size is simply unknown.
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes->reserve(static_cast<std::size_t>(info.st_size));
    AdviseLargeBuffer(bytes->data(), bytes->capacity());
  }
  const bool read = AppendAll(fd, bytes, reason);
  close(fd);
  if (!read)
    bytes->clear();
  return read;
}

bool ReadStandardInput(std::string* bytes) {
  bytes->clear();
  return AppendAll(STDIN_FILENO, bytes, nullptr);
}

void AdviseLargeBuffer(void* data, std::size_t size) {
  // Only whole large pages inside the buffer can be advised.
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
  const std::uintptr_t last = (begin + size) & ~(kLargePage - 1);
  if (last > first)
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

bool PrefaultForWriting(void* data, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  // Blocks of 64 KiB start and end on a page whatever the system's page size.
  constexpr std::uintptr_t kBlock = std::uintptr_t{64} << 10;
  const auto begin = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (begin + kBlock - 1) & ~(kBlock - 1);
  const std::uintptr_t last = (begin + size) & ~(kBlock - 1);
  if (last <= first)
    return true;
  // Systems older than Linux 5.14 refuse the advice; nothing is lost but the head start.
  return madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE) == 0;
#else
  (void)data;
  (void)size;
  return false;
#endif
}

bool CreateTemporaryFile(const std::string& prefix, std::string* path, std::string* reason,
                         const std::string& folder) {
  std::string pattern = folder.empty() ? TemporaryFolder() : folder;
  if (pattern != "/") {
    pattern.push_back('/');
  }
  // Beside the page a dot keeps it out of listings until it is the page.
  if (!folder.empty())
    pattern.push_back('.');
  std::string created;
  const int fd = CreateUniqueFile(pattern + prefix + "XXXXXX", &created);
  if (fd < 0) {
    SetReason(reason, errno);
    return false;
  }
  if (close(fd) != 0) {
    SetReason(reason, errno);
    unlink(created.c_str());
    return false;
  }
  *path = created;
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& target, std::string* reason) {
  const std::optional<std::string> resolved = ResolveLinks(target);
  if (!resolved) {
    SetReason(reason, ELOOP);
    return false;
  }
  const std::string& file = *resolved;
  mode_t mode;
  std::optional<Owner> owner;
  struct stat info;
  const bool exists = stat(file.c_str(), &info) == 0;
  // A device or a pipe is written into; a folder makes the rename fail with the system's
  // own words.
  if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))
    return WriteIntoNode(from, file, reason);
  if (exists && S_ISREG(info.st_mode)) {
    // The superuser may rename over anything, so a page the user protected with chmod a-w
    // must be refused here rather than by the system.
    if ((info.st_mode & kWriteBits) == 0) {
      SetReason(reason, EACCES);
      return false;
    }
    mode = info.st_mode & 07777;
    owner = Owner{info.st_uid, info.st_gid};
  } else {
    mode = NewFileMode();
  }
  // A published page keeps the owner and group of the file it replaces where the process
  // may give them (the superuser may); elsewhere it is the user's own, as any new file.
  // Before the mode: a change of owner clears the set-id bits.
  if (owner)
    (void)!chown(from.c_str(), owner->user, owner->group);
  // The temporary file is private (0600); a published page must keep the access its
  // readers, such as a web server, had before.
  if (chmod(from.c_str(), mode) != 0) {
    SetReason(reason, errno);
    return false;
  }
  if (rename(from.c_str(), file.c_str()) == 0) {
    return true;
  }
  if (errno != EXDEV) {
    SetReason(reason, errno);
    return false;
  }
  return CopyAcrossFileSystems(from, file, mode, owner, reason);
}

bool RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string& folder) {
  return rmdir(folder.c_str()) == 0;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr)
    return false;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..")
      continue;
    FolderEntry item;
    item.name = std::string(name);
    // The kind comes with the name on most file systems: no look at each entry.
    if (entry->d_type == DT_REG) {
      item.kind = EntryKind::File;
    } else if (entry->d_type == DT_DIR) {
      item.kind = EntryKind::Folder;
    }
    if (entry->d_type == DT_REG || entry->d_type == DT_DIR) {
      entries->push_back(std::move(item));
      continue;
    }
    const std::string path = prefix + item.name;
    struct stat info;
    item.link = lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    if (stat(path.c_str(), &info) == 0) {
      if (S_ISREG(info.st_mode))
        item.kind = EntryKind::File;
      else if (S_ISDIR(info.st_mode))
        item.kind = EntryKind::Folder;
    }
    entries->push_back(std::move(item));
  }
  closedir(dir);
  return true;
}

FileStamp StampOf(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0)
    return FileStamp();
  return StampFrom(info);
}

FolderLooks::~FolderLooks() {
  if (fd_ >= 0)
    (void)close(fd_);
}

void FolderLooks::Open(const std::string& folder) {
  if (fd_ >= 0)
    (void)close(fd_);
  path_ = folder;
  // Opened as stat would reach it: a link to the folder is followed, as the path would be.
  fd_ = folder.empty() ? -1 : open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

std::string FolderLooks::PathOf(std::string_view relative) const {
  // As the run joins a folder and a name: the same path it looked at before.
  if (path_.empty() || relative.empty())
    return path_.empty() ? std::string(relative) : path_;
  std::string path = path_;
  path.push_back('/');
  return path.append(relative);
}

bool FolderLooks::StatusOf(std::string_view relative, FileStatus* status) const {
  // A name that climbs out or starts over from the root means what its whole path means.
  if (fd_ < 0 || (!relative.empty() && relative.front() == '/'))
    return platform::StatusOf(PathOf(relative), status);
  struct stat info;
  const std::string name = relative.empty() ? std::string(".") : std::string(relative);
  if (fstatat(fd_, name.c_str(), &info, 0) != 0)
    return false;
  StatusFrom(info, status);
  return true;
}

FileStamp FolderLooks::StampOf(std::string_view relative) const {
  if (fd_ < 0 || (!relative.empty() && relative.front() == '/'))
    return platform::StampOf(PathOf(relative));
  struct stat info;
  const std::string name = relative.empty() ? std::string(".") : std::string(relative);
  if (fstatat(fd_, name.c_str(), &info, 0) != 0)
    return FileStamp();
  return StampFrom(info);
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty())
    return false;
  // Pages mostly land in folders that exist already: one look instead of a try per level.
  if (IsFolder(folder))
    return true;
  // Each prefix that ends before a separator, then the whole path.
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/')
      continue;
    const std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
      return false;
  }
  return IsFolder(folder);
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr)
    return {};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

std::int64_t FileClockNow() {
  timespec now{};
  (void)clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

ReadResult ReadOpenedRegularFile(int fd, std::uint64_t maxBytes, std::string* bytes) {
  struct stat info;
  if (fstat(fd, &info) != 0)
    return ReadResult::kFailed;
  if (!S_ISREG(info.st_mode))
    return ReadResult::kNotRegular;
  if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
    return ReadResult::kTooLarge;
  bytes->resize(static_cast<std::size_t>(info.st_size));
  std::size_t got = 0;
  // The file may grow while we read: what lies past the size found is not read.
  while (got < bytes->size()) {
    const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    got += static_cast<std::size_t>(n);
  }
  bytes->resize(got);
  return ReadResult::kRead;
}

ReadResult ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string* bytes) {
  bytes->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  const ReadResult result = ReadOpenedRegularFile(fd, maxBytes, bytes);
  close(fd);
  if (result != ReadResult::kRead)
    bytes->clear();
  return result;
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

OutputStream::~OutputStream() {
  if (file_ != nullptr && ownsFile_) {
    std::fclose(static_cast<std::FILE*>(file_));
  }
}

namespace {

// The C stream over `fd`, on a descriptor above the standard ones; null on failure.
std::FILE* StreamOver(int fd, std::string* reason) {
  // When the program was started with a standard stream closed, the file would get that
  // stream's number and every message meant for the stream would land in the page.
  if (fd <= STDERR_FILENO) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
      SetReason(reason, errno);
    close(fd);
    if (moved < 0) {
      return nullptr;
    }
    fd = moved;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    SetReason(reason, errno);
    close(fd);
  }
  return file;
}

}  // namespace

bool OutputStream::OpenNode(const std::string& path, std::string* reason) {
  // A device or a FIFO is written as it is: nothing to create or empty.
  return OpenWith(path, O_WRONLY | O_CLOEXEC, reason);
}

bool OutputStream::OpenFile(const std::string& path, std::string* reason) {
  return OpenWith(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, reason);
}

bool OutputStream::OpenWith(const std::string& path, int flags, std::string* reason) {
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) {
    SetReason(reason, errno);
    return false;
  }
  std::FILE* file = StreamOver(fd, reason);
  if (file == nullptr)
    return false;
  Hold(file);
  return true;
}

void OutputStream::OpenStandardOutput() {
  file_ = stdout;
  ownsFile_ = false;
  std::clearerr(stdout);
  // With descriptor 1 closed the writes would only fail at the flush, or worse land in a
  // file that happened to get that descriptor; count the page as lost from the start.
  failed_ = fcntl(STDOUT_FILENO, F_GETFD) == -1;
  reason_ = failed_ ? ErrnoText(EBADF) : std::string();
}

void PrintMessage(std::string_view line) {
  WriteLine(stdout, line);
}

void PrintError(std::string_view line) {
  WriteLine(stderr, line);
}

void PrintText(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void PrintErrorText(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// ---- Files read below a folder that a link swapped in meanwhile must not leave ----

namespace {

// The folders a walk below a folder holds open, the first being the folder itself.
class FolderChain {
 public:
  FolderChain() = default;
  ~FolderChain() {
    for (const int fd : fds_)
      close(fd);
  }
  FolderChain(const FolderChain&) = delete;
  FolderChain& operator=(const FolderChain&) = delete;
  void Push(int fd) { fds_.push_back(fd); }
  // False at the first folder: a ".." there would leave it.
  [[nodiscard]] bool Pop() {
    if (fds_.size() <= 1)
      return false;
    close(fds_.back());
    fds_.pop_back();
    return true;
  }
  [[nodiscard]] int Last() const { return fds_.back(); }

 private:
  std::vector<int> fds_;
};

// Puts the names of `path` ('/' between them) before those `pending` holds.
void PrependNames(std::string_view path, std::vector<std::string>* pending) {
  std::vector<std::string> names;
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t end = path.find('/', from);
    if (end == std::string_view::npos)
      end = path.size();
    if (end > from)
      names.emplace_back(path.substr(from, end - from));
    from = end + 1;
  }
  // `pending` is kept last name first, so that the next is taken from its back.
  pending->insert(pending->end(), names.rbegin(), names.rend());
}

}  // namespace

BelowRead ReadFileBelow(const std::string& folder, const std::string& relative, bool /*textMode*/,
                        std::string* bytes, FileKind* kind, std::string* reason) {
  bytes->clear();
  if (!relative.empty() && relative[0] == '/')
    return BelowRead::kOutside;
  FolderChain chain;
  const int base = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (base < 0) {
    SetReason(reason, errno);
    return BelowRead::kFailed;
  }
  chain.Push(base);
  // One name at a time, links never followed by the system: a link is read and its names
  // walked like the entry's own, so each step is taken from a folder already open below
  // the base, and ".." can climb no higher than the base.
  std::vector<std::string> pending;
  PrependNames(relative, &pending);
  int links = 0;
  int file = -1;
  while (!pending.empty()) {
    const std::string name = std::move(pending.back());
    pending.pop_back();
    if (name == ".")
      continue;
    if (name == "..") {
      if (!chain.Pop())
        return BelowRead::kOutside;
      continue;
    }
    const bool last = pending.empty();
    const int flags =
        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (last ? O_NONBLOCK | O_NOCTTY : O_DIRECTORY);
    const int fd = openat(chain.Last(), name.c_str(), flags);
    if (fd >= 0) {
      if (last)
        file = fd;
      else
        chain.Push(fd);
      continue;
    }
    const int openError = errno;
    char target[PATH_MAX];
    const ssize_t length = (openError == ELOOP || openError == ENOTDIR)
                               ? readlinkat(chain.Last(), name.c_str(), target, sizeof target)
                               : -1;
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
      SetReason(reason, openError);
      return BelowRead::kFailed;
    }
    if (++links > kMaxLinkDepth) {
      SetReason(reason, ELOOP);
      return BelowRead::kFailed;
    }
    if (target[0] == '/')
      return BelowRead::kOutside;
    PrependNames(std::string_view(target, static_cast<std::size_t>(length)), &pending);
  }
  if (file < 0) {
    // The entry named the folder itself, or one above which it came back to.
    *kind = FileKind::Folder;
    return BelowRead::kNotRegular;
  }
  struct stat info;
  if (fstat(file, &info) != 0) {
    SetReason(reason, errno);
    close(file);
    return BelowRead::kFailed;
  }
  if (!S_ISREG(info.st_mode)) {
    *kind = KindOf(info.st_mode);
    close(file);
    return BelowRead::kNotRegular;
  }
  // Opened without waiting in case it was a pipe; a regular file reads alike either way.
  (void)fcntl(file, F_SETFL, fcntl(file, F_GETFL) & ~O_NONBLOCK);
  const bool read = AppendAll(file, bytes, reason);
  close(file);
  if (!read) {
    bytes->clear();
    return BelowRead::kFailed;
  }
  return BelowRead::kRead;
}

// --- A reader that closed the page's pipe -----------------------------------------------

bool IsClosedPipeReason(std::string_view reason) {
  return reason == ErrnoText(EPIPE);
}

void EndAsClosedPipe() {
  // The signal was ignored so that every other failed write is reported; this one ends
  // the process by it, unblocked in case a section holds the terminating signals.
  std::signal(SIGPIPE, SIG_DFL);
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
  raise(SIGPIPE);
  std::_Exit(128 + SIGPIPE);
}

}  // namespace tarvix::platform
