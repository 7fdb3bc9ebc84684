// Files below a folder held open, on POSIX: every name is opened from the descriptor of
// the folder that holds it, with O_NOFOLLOW, so no link below the folder is ever followed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif

#include "platform/Below.h"
#include "platform/Cleanup.h"
#include "platform/Posix.h"

namespace tarvix::platform {
namespace {

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
// A fresh random name collides only with a file someone made on purpose: a few tries
// get past that.
constexpr int kNameTries = 16;
// What a file moved back to a name it cannot have again is called beside it.
constexpr std::string_view kKeptSuffix = ".tarvix-kept";

void SetReason(std::string* reason, int code) {
  if (reason != nullptr)
    *reason = ErrnoText(code);
}

// The names of `relative`, in order (each to `names` when given); false when one is no
// plain name.
bool SplitNames(std::string_view relative, std::vector<std::string_view>* names) {
  if (names != nullptr)
    names->clear();
  std::size_t from = 0;
  while (from <= relative.size()) {
    std::size_t end = relative.find('/', from);
    if (end == std::string_view::npos)
      end = relative.size();
    const std::string_view name = relative.substr(from, end - from);
    if (name.empty() || name == "." || name == "..")
      return false;
    if (names != nullptr)
      names->push_back(name);
    from = end + 1;
  }
  return true;
}

FileIdentity IdentityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.inode = static_cast<std::uint64_t>(info.st_ino);
  identity.stamp.exists = true;
  identity.stamp.time =
      static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  identity.stamp.size = static_cast<std::uint64_t>(info.st_size);
  return identity;
}

// Why the name `name` in `folder` could not be opened as a folder: a link, nothing, or
// the system's refusal.
BelowResult WhyNotFolder(int folder, const std::string& name, int code, std::string* reason) {
  struct stat info;
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
    return BelowResult::kLink;
  if (code == ENOENT)
    return BelowResult::kMissing;
  SetReason(reason, code);
  return BelowResult::kFailed;
}

// Opens `relative` below `root` in one call where the system can, no link followed on
// the way or at its end (with O_PATH | O_NOFOLLOW, a link at the end is opened as itself).
// -1 with errno set; ENOSYS where there is no such call, and the caller walks name by name.
int OpenBeneath(int root, const std::string& relative, int flags) {
#if defined(SYS_openat2) && defined(RESOLVE_NO_SYMLINKS)
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
  if (fd < 0 && (errno == EPERM || errno == EINVAL || errno == E2BIG))
    errno = ENOSYS;  // refused as a call (a filter, an older kernel): walk instead
  return static_cast<int>(fd);
#else
  (void)root;
  (void)relative;
  (void)flags;
  errno = ENOSYS;
  return -1;
#endif
}

std::string Joined(const std::vector<std::string_view>& names) {
  std::string path;
  for (const std::string_view name : names) {
    if (!path.empty())
      path.push_back('/');
    path.append(name);
  }
  return path;
}

// Opens the folders `names` one below the other from `start`, making those missing when
// `make`; `*opened` gets the last one's descriptor (a copy of `start` for none).
BelowResult OpenFolders(int start, const std::vector<std::string_view>& names, bool make,
                        int* opened, std::string* reason) {
  if (!names.empty()) {
    // Most folders of a run exist already: one call for the whole way.
    const int fd = OpenBeneath(start, Joined(names), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
      *opened = fd;
      return BelowResult::kDone;
    }
    if (errno == ELOOP)
      return BelowResult::kLink;
    if (errno == ENOENT && !make)
      return BelowResult::kMissing;
  }
  int current = fcntl(start, F_DUPFD_CLOEXEC, 0);
  if (current < 0) {
    SetReason(reason, errno);
    return BelowResult::kFailed;
  }
  for (const std::string_view view : names) {
    const std::string name(view);
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int next = openat(current, name.c_str(), kFlags);
    if (next < 0 && errno == ENOENT && make) {
      if (mkdirat(current, name.c_str(), 0777) == 0 || errno == EEXIST)
        next = openat(current, name.c_str(), kFlags);
    }
    if (next < 0) {
      const BelowResult why = WhyNotFolder(current, name, errno, reason);
      close(current);
      return why;
    }
    close(current);
    current = next;
  }
  *opened = current;
  return BelowResult::kDone;
}

// Renames `from` to `to` in `folder` unless `to` exists.
bool RenameNoReplace(int folder, const std::string& from, const std::string& to) {
  return renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0;
}

std::string JoinShown(const std::string& folder, const std::string& relative,
                      const std::string& name) {
  std::string path = folder;
  if (!relative.empty())
    path.append(1, '/').append(relative);
  return path.append(1, '/').append(name);
}

}  // namespace

BelowFolder::~BelowFolder() {
  if (fd_ >= 0)
    close(fd_);
}

bool BelowFolder::Open(const std::string& folder, std::string* reason) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    SetReason(reason, errno);
    return false;
  }
  if (fd_ >= 0)
    close(fd_);
  fd_ = fd;
  path_ = folder;
  return true;
}

BelowResult BelowFolder::OpenParent(std::string_view relative, bool make, int* folder,
                                    std::string* name, std::string* reason) const {
  std::vector<std::string_view> names;
  if (fd_ < 0 || !SplitNames(relative, &names)) {
    SetReason(reason, EINVAL);
    return BelowResult::kFailed;
  }
  *name = std::string(names.back());
  names.pop_back();
  return OpenFolders(fd_, names, make, folder, reason);
}

bool BelowFolder::IsStill(std::string_view relative, const FileIdentity& identity) const {
  // Nothing is written on this answer, so a folder on the way may be what it likes: the
  // file found is ours only if it is the very file, with its size and time unchanged.
  // An unchanged rerun asks this of every page and highlighter file: the name is made on
  // the stack where it fits.
  struct stat info;
  char name[PATH_MAX];
  if (fd_ < 0 || identity.inode == 0 || relative.size() >= sizeof name ||
      !SplitNames(relative, nullptr))
    return false;
  relative.copy(name, relative.size());
  name[relative.size()] = '\0';
  return fstatat(fd_, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
         IdentityOf(info) == identity;
}

BelowKind BelowFolder::Look(std::string_view relative, FileIdentity* identity) const {
  if (identity != nullptr)
    *identity = FileIdentity();
  struct stat info;
  std::vector<std::string_view> names;
  if (fd_ >= 0 && SplitNames(relative, &names)) {
    const int fd = OpenBeneath(fd_, std::string(relative), O_PATH | O_NOFOLLOW);
    if (fd >= 0) {
      const bool found = fstat(fd, &info) == 0;
      close(fd);
      if (!found)
        return BelowKind::kOther;
      if (S_ISLNK(info.st_mode))
        return BelowKind::kLink;
      if (S_ISDIR(info.st_mode))
        return BelowKind::kFolder;
      if (!S_ISREG(info.st_mode))
        return BelowKind::kOther;
      if (identity != nullptr)
        *identity = IdentityOf(info);
      return BelowKind::kFile;
    }
    if (errno == ELOOP)
      return BelowKind::kLink;
    if (errno == ENOENT || errno == ENOTDIR)
      return BelowKind::kMissing;
  }
  int folder = -1;
  std::string name;
  switch (OpenParent(relative, false, &folder, &name, nullptr)) {
    case BelowResult::kDone:
      break;
    case BelowResult::kLink:
      return BelowKind::kLink;
    case BelowResult::kMissing:
      return BelowKind::kMissing;
    default:
      return BelowKind::kOther;
  }
  const bool found = fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  const int code = errno;
  close(folder);
  if (!found)
    return code == ENOENT || code == ENOTDIR ? BelowKind::kMissing : BelowKind::kOther;
  if (S_ISLNK(info.st_mode))
    return BelowKind::kLink;
  if (S_ISDIR(info.st_mode))
    return BelowKind::kFolder;
  if (!S_ISREG(info.st_mode))
    return BelowKind::kOther;
  if (identity != nullptr)
    *identity = IdentityOf(info);
  return BelowKind::kFile;
}

BelowResult BelowFolder::MakeFolders(std::string_view relative, std::string* reason) const {
  std::vector<std::string_view> names;
  if (fd_ < 0 || (!relative.empty() && !SplitNames(relative, &names))) {
    SetReason(reason, EINVAL);
    return BelowResult::kFailed;
  }
  int folder = -1;
  const BelowResult result = OpenFolders(fd_, names, true, &folder, reason);
  if (result == BelowResult::kDone)
    close(folder);
  return result;
}

BelowResult BelowFolder::RemoveIfSame(std::string_view relative, const FileIdentity& expected,
                                      std::string* keptAs) const {
  int folder = -1;
  std::string name;
  const BelowResult opened = OpenParent(relative, false, &folder, &name, nullptr);
  if (opened != BelowResult::kDone)
    return opened;
  const auto finish = [&](BelowResult result) {
    close(folder);
    return result;
  };
  struct stat info;
  if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
    return finish(errno == ENOENT ? BelowResult::kMissing : BelowResult::kFailed);
  if (S_ISLNK(info.st_mode))
    return finish(BelowResult::kLink);
  if (!S_ISREG(info.st_mode) || IdentityOf(info) != expected)
    return finish(BelowResult::kChanged);
  // The file looked ours a moment ago; what is moved aside now is what we decide on.
  std::string aside;
  for (int i = 0; i < kNameTries && aside.empty(); ++i) {
    const std::string candidate = NewTemporaryNameBelow();
    if (RenameNoReplace(folder, name, candidate)) {
      aside = candidate;
    } else if (errno != EEXIST) {
      return finish(errno == ENOENT ? BelowResult::kMissing : BelowResult::kFailed);
    }
  }
  if (aside.empty())
    return finish(BelowResult::kFailed);
  if (fstatat(folder, aside.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
      IdentityOf(info) == expected) {
    return finish(unlinkat(folder, aside.c_str(), 0) == 0 ? BelowResult::kDone
                                                          : BelowResult::kFailed);
  }
  // Someone else's file took the name meanwhile: it goes back, or beside it when the name
  // was taken again.
  if (!RenameNoReplace(folder, aside, name)) {
    const std::string kept = name + std::string(kKeptSuffix);
    if (RenameNoReplace(folder, aside, kept) && keptAs != nullptr)
      *keptAs = kept;
  }
  return finish(BelowResult::kChanged);
}

BelowResult BelowFolder::RemoveEmptyFolder(std::string_view relative) const {
  int folder = -1;
  std::string name;
  const BelowResult opened = OpenParent(relative, false, &folder, &name, nullptr);
  if (opened != BelowResult::kDone)
    return opened;
  BelowResult result = BelowResult::kDone;
  if (unlinkat(folder, name.c_str(), AT_REMOVEDIR) != 0) {
    struct stat info;
    if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
      result = BelowResult::kLink;
    else
      result = errno == ENOENT ? BelowResult::kMissing : BelowResult::kFailed;
  }
  close(folder);
  return result;
}

std::size_t BelowFolder::RemoveTemporaries(std::string_view relative) const {
  std::vector<std::string_view> names;
  if (fd_ < 0 || (!relative.empty() && !SplitNames(relative, &names)))
    return 0;
  int folder = -1;
  if (OpenFolders(fd_, names, false, &folder, nullptr) != BelowResult::kDone)
    return 0;
  const int listed = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
  if (dir == nullptr) {
    if (listed >= 0)
      close(listed);
    close(folder);
    return 0;
  }
  std::size_t removed = 0;
  while (const dirent* entry = readdir(dir)) {
    if (!IsTemporaryNameBelow(entry->d_name))
      continue;
    struct stat info;
    if (fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
        unlinkat(folder, entry->d_name, 0) == 0)
      ++removed;
  }
  closedir(dir);
  close(folder);
  return removed;
}

ReadResult BelowFolder::Read(std::string_view relative, std::uint64_t maxBytes,
                             std::string* bytes) const {
  bytes->clear();
  int folder = -1;
  std::string name;
  const BelowResult opened = OpenParent(relative, false, &folder, &name, nullptr);
  if (opened == BelowResult::kMissing)
    return ReadResult::kMissing;
  if (opened != BelowResult::kDone)
    return opened == BelowResult::kLink ? ReadResult::kNotRegular : ReadResult::kFailed;
  const int fd =
      openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  const int code = errno;
  close(folder);
  if (fd < 0)
    return code == ENOENT  ? ReadResult::kMissing
           : code == ELOOP ? ReadResult::kNotRegular
                           : ReadResult::kFailed;
  const ReadResult result = ReadOpenedRegularFile(fd, maxBytes, bytes);
  close(fd);
  if (result != ReadResult::kRead)
    bytes->clear();
  return result;
}

NewFileBelow::~NewFileBelow() {
  Discard();
}

void NewFileBelow::Discard() {
  if (fd_ >= 0)
    close(fd_);
  fd_ = -1;
  if (folder_ >= 0) {
    if (!temporary_.empty())
      unlinkat(folder_, temporary_.c_str(), 0);
    close(folder_);
  }
  folder_ = -1;
  temporary_.clear();
  // Only once the file is gone: a signal in between finds nothing left to delete.
  UnregisterCleanupFile(slot_);
  slot_ = -1;
}

BelowResult NewFileBelow::Create(const BelowFolder& below, std::string_view relative,
                                 std::string* reason) {
  Discard();
  failed_ = false;
  copyTime_ = -1;
  mode_ = NewFileMode();
  below_ = &below;
  const BelowResult opened = below.OpenParent(relative, false, &folder_, &name_, reason);
  if (opened != BelowResult::kDone)
    return opened;
  const std::size_t slash = relative.rfind('/');
  relativeFolder_ =
      std::string(slash == std::string_view::npos ? std::string_view() : relative.substr(0, slash));
  for (int i = 0; i < kNameTries; ++i) {
    const std::string name = NewTemporaryNameBelow();
    // A signal between the file's creation and its registration would leave it behind.
    const HeldSignals held;
    if (held.Stopping()) {
      SetReason(reason, EINTR);
      return BelowResult::kFailed;
    }
    fd_ = openat(folder_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      temporary_ = name;
      slot_ = RegisterCleanupFile(JoinShown(below.Path(), relativeFolder_, temporary_));
      // Above the standard streams: a message must never land in the file.
      if (fd_ <= STDERR_FILENO) {
        const int moved = fcntl(fd_, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        close(fd_);
        fd_ = moved;
        if (fd_ < 0) {
          SetReason(reason, errno);
          return BelowResult::kFailed;
        }
      }
      return BelowResult::kDone;
    }
    if (errno != EEXIST) {
      SetReason(reason, errno);
      return BelowResult::kFailed;
    }
  }
  SetReason(reason, EEXIST);
  return BelowResult::kFailed;
}

bool NewFileBelow::Write(std::string_view bytes) {
  if (fd_ < 0 || failed_)
    return false;
  const char* data = bytes.data();
  std::size_t size = bytes.size();
  while (size > 0) {
    const ssize_t written = write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      failed_ = true;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool NewFileBelow::WriteText(std::string_view bytes) {
  return Write(bytes);
}

bool NewFileBelow::CopyFrom(const std::string& from, std::string* reason) {
  // Not blocking: a FIFO put in the file's place is refused below rather than waited on.
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (source < 0) {
    SetReason(reason, errno);
    return false;
  }
  struct stat info;
  if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
    SetReason(reason, EINVAL);
    close(source);
    return false;
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    const ssize_t got = read(source, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      SetReason(reason, errno);
      ok = false;
      break;
    }
    if (got == 0)
      break;
    if (!Write(std::string_view(buffer, static_cast<std::size_t>(got)))) {
      SetReason(reason, errno);
      ok = false;
      break;
    }
  }
  close(source);
  copyTime_ = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  // The copy may be run as the source could (a script), as far as the mask allows.
  mode_ = (info.st_mode & 0777) & ~ProcessUmask();
  return ok;
}

bool NewFileBelow::Finish(bool durable, FileIdentity* identity, std::string* reason) {
  if (fd_ < 0 || failed_) {
    SetReason(reason, fd_ < 0 ? EBADF : errno);
    return false;
  }
  if (copyTime_ >= 0) {
    const timespec times[2] = {
        {0, UTIME_OMIT},
        {static_cast<time_t>(copyTime_ / 1000000000), static_cast<long>(copyTime_ % 1000000000)}};
    if (futimens(fd_, times) != 0) {
      SetReason(reason, errno);
      return false;
    }
  }
  if (durable && fsync(fd_) != 0) {
    SetReason(reason, errno);
    return false;
  }
  struct stat info;
  if (fstat(fd_, &info) != 0) {
    SetReason(reason, errno);
    return false;
  }
  *identity = IdentityOf(info);
  return true;
}

BelowResult NewFileBelow::Commit(bool durable, std::string* reason, bool anyFile) {
  if (fd_ < 0 || folder_ < 0) {
    SetReason(reason, EBADF);
    return BelowResult::kFailed;
  }
  struct stat info;
  mode_t mode = mode_;
  const bool found = fstatat(folder_, name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
  if (found && anyFile && !S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
    // Replaced as it is: the rename takes the name, whatever it named.
  } else if (found) {
    if (S_ISLNK(info.st_mode)) {
      Discard();
      return BelowResult::kLink;
    }
    if (!S_ISREG(info.st_mode)) {
      SetReason(reason, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
      Discard();
      return BelowResult::kChanged;
    }
    // The superuser may rename over anything, so a file the user protected with chmod a-w
    // is refused here rather than by the system.
    if ((info.st_mode & kWriteBits) == 0) {
      SetReason(reason, EACCES);
      Discard();
      return BelowResult::kFailed;
    }
    // A page keeps the access and, where the process may give them, the owner and group
    // of the file it replaces (before the mode: a change of owner clears the set-id bits).
    if (copyTime_ < 0) {
      mode = info.st_mode & 07777;
      (void)!fchown(fd_, info.st_uid, info.st_gid);
    }
  }
  bool ok = fchmod(fd_, mode) == 0;
  ok = close(fd_) == 0 && ok;
  fd_ = -1;
  if (!ok || renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0) {
    SetReason(reason, errno);
    Discard();
    return BelowResult::kFailed;
  }
  temporary_.clear();
  UnregisterCleanupFile(slot_);
  slot_ = -1;
  // The rename is a change of the folder: on disk only once the folder is.
  ok = !durable || fsync(folder_) == 0;
  if (!ok)
    SetReason(reason, errno);
  close(folder_);
  folder_ = -1;
  return ok ? BelowResult::kDone : BelowResult::kFailed;
}

std::string NewFileBelow::ShownPath() const {
  return below_ == nullptr ? temporary_ : JoinShown(below_->Path(), relativeFolder_, temporary_);
}

AppendFileBelow::~AppendFileBelow() {
  Close();
}

BelowResult AppendFileBelow::Open(const BelowFolder& below, std::string_view relative,
                                  std::string* reason) {
  Close();
  int folder = -1;
  std::string name;
  const BelowResult opened = below.OpenParent(relative, false, &folder, &name, reason);
  if (opened != BelowResult::kDone)
    return opened;
  const int fd =
      openat(folder, name.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, NewFileMode());
  const int code = errno;
  BelowResult result = BelowResult::kDone;
  struct stat info;
  if (fd < 0) {
    result = code == ELOOP ? BelowResult::kLink : BelowResult::kFailed;
    if (result == BelowResult::kFailed)
      SetReason(reason, code);
  } else if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    result = BelowResult::kChanged;
  } else if (fd <= STDERR_FILENO) {
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (fd_ < 0)
      result = BelowResult::kFailed;
  } else {
    fd_ = fd;
  }
  if (fd >= 0 && fd != fd_)
    close(fd);
  close(folder);
  return result;
}

bool AppendFileBelow::Append(std::string_view bytes) {
  if (fd_ < 0)
    return false;
  for (;;) {
    const ssize_t written = write(fd_, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR)
      continue;
    return written == static_cast<ssize_t>(bytes.size());
  }
}

void AppendFileBelow::Close(FileIdentity* identity) {
  if (identity != nullptr)
    *identity = FileIdentity();
  if (fd_ < 0)
    return;
  struct stat info;
  if (identity != nullptr && fstat(fd_, &info) == 0)
    *identity = IdentityOf(info);
  close(fd_);
  fd_ = -1;
}

}  // namespace tarvix::platform
