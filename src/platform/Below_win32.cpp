// Files below a folder held open, on Windows: every folder on the way to a name is opened
// one at a time, its reparse point not followed, and held while we work on the name, so
// that no link below the folder is ever followed and no folder on the way changes meanwhile.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Below.h"
#include "platform/Cleanup.h"
#include "platform/Win32.h"

namespace tarvix::platform {
namespace {

// A fresh random name collides only with a file someone made on purpose: a few tries
// get past that.
constexpr int kNameTries = 16;
// What a file moved back to a name it cannot have again is called beside it.
constexpr std::string_view kKeptSuffix = ".tarvix-kept";
// The long-path prefix: what follows it is taken name by name as it is written, with no
// name read as a device ("NUL") and no trailing dot dropped, and past MAX_PATH.
constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

// A folder on the way is held with read access, which the system counts among the opens a
// rename or a deletion must share with, and without FILE_SHARE_DELETE: while we hold it,
// no one renames it, removes it or puts a link in its place.
constexpr DWORD kHeldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// A look at a name: attributes alone, which no other open refuses us.
constexpr DWORD kLookShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;

void SetReason(std::string* reason, DWORD code) {
  if (reason != nullptr)
    *reason = ErrorText(code);
}

void SetErrnoReason(std::string* reason, int code) {
  if (reason != nullptr)
    *reason = ErrnoText(code);
}

bool IsNotFound(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// The names of `relative`, in order, '/' and '\\' both separating them; false when one is
// no plain name.
bool SplitNames(std::string_view relative, std::vector<std::string_view>* names) {
  names->clear();
  std::size_t from = 0;
  while (from <= relative.size()) {
    std::size_t end = relative.find_first_of("/\\", from);
    if (end == std::string_view::npos)
      end = relative.size();
    const std::string_view name = relative.substr(from, end - from);
    if (!IsPlainName(name))
      return false;
    names->push_back(name);
    from = end + 1;
  }
  return true;
}

std::uint64_t Join64(DWORD high, DWORD low) {
  return (std::uint64_t{high} << 32) | low;
}

std::int64_t TimeOf(const FILETIME& time) {
  return static_cast<std::int64_t>(Join64(time.dwHighDateTime, time.dwLowDateTime));
}

FILETIME FileTimeOf(std::int64_t time) {
  FILETIME file;
  file.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time) & 0xFFFFFFFF);
  file.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time) >> 32);
  return file;
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileIdentity identity;
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = Join64(info.nFileIndexHigh, info.nFileIndexLow);
  identity.stamp.exists = true;
  identity.stamp.time = TimeOf(info.ftLastWriteTime);
  identity.stamp.size = Join64(info.nFileSizeHigh, info.nFileSizeLow);
  return identity;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool IsLink(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsFolderInfo(const BY_HANDLE_FILE_INFORMATION& info) {
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A handle closed when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  [[nodiscard]] HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() {
    if (handle_ != nullptr)
      CloseHandle(handle_);
    handle_ = nullptr;
  }
  // Hands the handle over to the caller, who closes it.
  [[nodiscard]] HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// What a name leads to, its reparse point not followed.
struct Entry {
  BelowKind kind = BelowKind::kMissing;
  BY_HANDLE_FILE_INFORMATION info{};
};

BelowKind KindOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info) {
  if (IsLink(info))
    return BelowKind::kLink;
  if (IsFolderInfo(info))
    return BelowKind::kFolder;
  // A device or a pipe (a name such as NUL, reached without the long prefix).
  return GetFileType(file) == FILE_TYPE_DISK ? BelowKind::kFile : BelowKind::kOther;
}

// What `path` is; false (GetLastError says why) when it cannot be opened or asked.
bool LookAt(const std::wstring& path, Entry* entry) {
  const Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kLookShare, nullptr,
                                OPEN_EXISTING, kNoFollow, nullptr));
  if (!file || !GetFileInformationByHandle(file.get(), &entry->info))
    return false;
  entry->kind = KindOf(file.get(), entry->info);
  return true;
}

// The held folder's own path, in the long form: whatever name the user reached it by,
// and wherever it is now, this is where it is.
bool RootPath(HANDLE root, std::wstring* path, std::string* reason) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (const DWORD flags : {FILE_NAME_NORMALIZED, FILE_NAME_OPENED}) {
    DWORD length =
        GetFinalPathNameByHandleW(root, buffer.data(), static_cast<DWORD>(buffer.size()), flags);
    if (length >= buffer.size()) {
      buffer.resize(length + 1);
      length =
          GetFinalPathNameByHandleW(root, buffer.data(), static_cast<DWORD>(buffer.size()), flags);
    }
    if (length > 0 && length < buffer.size()) {
      buffer.resize(length);
      if (buffer.compare(0, kLongPrefix.size(), kLongPrefix) != 0)
        buffer.insert(0, kLongPrefix);
      while (buffer.size() > kLongPrefix.size() && buffer.back() == L'\\')
        buffer.pop_back();
      *path = std::move(buffer);
      return true;
    }
  }
  SetReason(reason, GetLastError());
  return false;
}

// The folders from the held one down to the folder a name is in, each held open (see
// kHeldAccess) until the walk goes, and the long path of the last.
class Walk {
 public:
  // Opens the folders `names` one below the other from the folder `root` holds, making
  // those missing when `make`. kDone, kMissing, kLink (a folder on the way is a reparse
  // point) or kFailed (with `reason`).
  [[nodiscard]] BelowResult Open(HANDLE root, const std::vector<std::string_view>& names, bool make,
                                 std::string* reason) {
    held_.clear();
    if (root == nullptr) {
      SetReason(reason, ERROR_INVALID_HANDLE);
      return BelowResult::kFailed;
    }
    if (!RootPath(root, &path_, reason))
      return BelowResult::kFailed;
    for (const std::string_view name : names) {
      path_.append(1, L'\\').append(Wide(name));
      Handle folder = OpenFolder();
      if (!folder && IsNotFound(GetLastError()) && make) {
        if (CreateDirectoryW(path_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
          folder = OpenFolder();
      }
      if (!folder) {
        const DWORD code = GetLastError();
        if (IsNotFound(code))
          return BelowResult::kMissing;
        SetReason(reason, code);
        return BelowResult::kFailed;
      }
      BY_HANDLE_FILE_INFORMATION info;
      if (!GetFileInformationByHandle(folder.get(), &info)) {
        SetReason(reason, GetLastError());
        return BelowResult::kFailed;
      }
      if (IsLink(info))
        return BelowResult::kLink;
      if (!IsFolderInfo(info)) {
        SetReason(reason, ERROR_DIRECTORY);
        return BelowResult::kFailed;
      }
      held_.push_back(std::move(folder));
    }
    return BelowResult::kDone;
  }

  // The long path of `name` in the last folder.
  [[nodiscard]] std::wstring PathOf(std::string_view name) const {
    return path_ + L'\\' + Wide(name);
  }

 private:
  Handle OpenFolder() const {
    return Handle(CreateFileW(path_.c_str(), kHeldAccess, kHeldShare, nullptr, OPEN_EXISTING,
                              kNoFollow, nullptr));
  }

  std::vector<Handle> held_;
  std::wstring path_;
};

// Walks to the folder holding the last name of `relative`, and gives that name.
BelowResult WalkToParent(HANDLE root, std::string_view relative, Walk* walk, std::string* name,
                         std::string* reason) {
  std::vector<std::string_view> names;
  if (!SplitNames(relative, &names)) {
    SetErrnoReason(reason, EINVAL);
    return BelowResult::kFailed;
  }
  *name = std::string(names.back());
  names.pop_back();
  return walk->Open(root, names, false, reason);
}

// Walks to the folder `relative` itself; the empty path is the held folder.
BelowResult WalkToFolder(HANDLE root, std::string_view relative, bool make, Walk* walk,
                         std::string* reason) {
  std::vector<std::string_view> names;
  if (!relative.empty() && !SplitNames(relative, &names)) {
    SetErrnoReason(reason, EINVAL);
    return BelowResult::kFailed;
  }
  return walk->Open(root, names, make, reason);
}

// Renames `from` to `to` unless `to` exists: without MOVEFILE_REPLACE_EXISTING the call
// refuses an existing target, and a reparse point is renamed itself, never what it names.
bool RenameNoReplace(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
}

// Deletes the file `file` was opened on (with DELETE access): the file we looked at, not
// whatever its name leads to by now.
bool DeleteOpened(HANDLE file) {
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

// `folder` '\\' `relative` '\\' `name`, for messages: the folder as the user named it.
std::string JoinShown(const std::string& folder, const std::string& relative,
                      const std::string& name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/')
    path.push_back('\\');
  if (!relative.empty())
    path.append(relative).push_back('\\');
  return path.append(name);
}

ReadResult ReadOpened(HANDLE file, std::uint64_t maxBytes, std::string* bytes) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info))
    return ReadResult::kFailed;
  if (KindOf(file, info) != BelowKind::kFile)
    return ReadResult::kNotRegular;
  const std::uint64_t size = Join64(info.nFileSizeHigh, info.nFileSizeLow);
  if (size > maxBytes)
    return ReadResult::kTooLarge;
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t got = 0;
  // The file may grow while we read: what lies past the size found is not read.
  while (got < bytes->size()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes->size() - got, 1 << 20));
    DWORD read = 0;
    if (!ReadFile(file, bytes->data() + got, piece, &read, nullptr) || read == 0)
      break;
    got += read;
  }
  bytes->resize(got);
  return ReadResult::kRead;
}

}  // namespace

BelowFolder::~BelowFolder() {
  if (handle_ != nullptr)
    CloseHandle(handle_);
}

bool BelowFolder::Open(const std::string& folder, std::string* reason) {
  const std::wstring wide = Wide(folder);
  if (wide.empty()) {
    SetReason(reason, ERROR_PATH_NOT_FOUND);
    return false;
  }
  // The folder itself is reached as the user named it, links and all.
  Handle held(CreateFileW(wide.c_str(), kHeldAccess, kHeldShare, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!held) {
    SetReason(reason, GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(held.get(), &info)) {
    SetReason(reason, GetLastError());
    return false;
  }
  if (!IsFolderInfo(info)) {
    SetReason(reason, ERROR_DIRECTORY);
    return false;
  }
  if (handle_ != nullptr)
    CloseHandle(handle_);
  handle_ = held.Release();
  path_ = folder;
  return true;
}

bool BelowFolder::IsStill(std::string_view relative, const FileIdentity& identity) const {
  FileIdentity found;
  return identity.inode != 0 && Look(relative, &found) == BelowKind::kFile && found == identity;
}

BelowKind BelowFolder::Look(std::string_view relative, FileIdentity* identity) const {
  if (identity != nullptr)
    *identity = FileIdentity();
  Walk walk;
  std::string name;
  switch (WalkToParent(handle_, relative, &walk, &name, nullptr)) {
    case BelowResult::kDone:
      break;
    case BelowResult::kLink:
      return BelowKind::kLink;
    case BelowResult::kMissing:
      return BelowKind::kMissing;
    default:
      return BelowKind::kOther;
  }
  Entry entry;
  if (!LookAt(walk.PathOf(name), &entry))
    return IsNotFound(GetLastError()) ? BelowKind::kMissing : BelowKind::kOther;
  if (entry.kind == BelowKind::kFile && identity != nullptr)
    *identity = IdentityOf(entry.info);
  return entry.kind;
}

BelowResult BelowFolder::MakeFolders(std::string_view relative, std::string* reason) const {
  Walk walk;
  return WalkToFolder(handle_, relative, true, &walk, reason);
}

BelowResult BelowFolder::RemoveIfSame(std::string_view relative, const FileIdentity& expected,
                                      std::string* keptAs) const {
  Walk walk;
  std::string name;
  const BelowResult opened = WalkToParent(handle_, relative, &walk, &name, nullptr);
  if (opened != BelowResult::kDone)
    return opened;
  const std::wstring path = walk.PathOf(name);
  Entry entry;
  if (!LookAt(path, &entry))
    return IsNotFound(GetLastError()) ? BelowResult::kMissing : BelowResult::kFailed;
  if (entry.kind == BelowKind::kLink)
    return BelowResult::kLink;
  if (entry.kind != BelowKind::kFile || IdentityOf(entry.info) != expected)
    return BelowResult::kChanged;
  // The system deletes no read-only file; moved aside, it would only lose its name.
  if ((entry.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
    return BelowResult::kFailed;
  // The file looked ours a moment ago; what is moved aside now is what we decide on.
  std::wstring aside;
  for (int i = 0; i < kNameTries && aside.empty(); ++i) {
    const std::wstring candidate = walk.PathOf(NewTemporaryNameBelow());
    if (RenameNoReplace(path, candidate)) {
      aside = candidate;
    } else if (const DWORD code = GetLastError();
               code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
      return IsNotFound(code) ? BelowResult::kMissing : BelowResult::kFailed;
    }
  }
  if (aside.empty())
    return BelowResult::kFailed;
  // Deleted through the handle that was looked at, so what is deleted is what matched.
  Handle moved(CreateFileW(aside.c_str(), DELETE | FILE_READ_ATTRIBUTES, kLookShare, nullptr,
                           OPEN_EXISTING, kNoFollow, nullptr));
  BY_HANDLE_FILE_INFORMATION now;
  const bool same = moved && GetFileInformationByHandle(moved.get(), &now) &&
                    KindOf(moved.get(), now) == BelowKind::kFile && IdentityOf(now) == expected;
  if (same && DeleteOpened(moved.get()))
    return BelowResult::kDone;
  moved.Close();
  // Ours, but the system would not delete it; or someone else's, which took the name
  // meanwhile. Either goes back to its name, or beside it when the name was taken again.
  if (!RenameNoReplace(aside, path)) {
    const std::string kept = name + std::string(kKeptSuffix);
    if (RenameNoReplace(aside, walk.PathOf(kept)) && keptAs != nullptr)
      *keptAs = kept;
  }
  return same ? BelowResult::kFailed : BelowResult::kChanged;
}

BelowResult BelowFolder::RemoveEmptyFolder(std::string_view relative) const {
  Walk walk;
  std::string name;
  const BelowResult opened = WalkToParent(handle_, relative, &walk, &name, nullptr);
  if (opened != BelowResult::kDone)
    return opened;
  const std::wstring path = walk.PathOf(name);
  Entry entry;
  if (!LookAt(path, &entry))
    return IsNotFound(GetLastError()) ? BelowResult::kMissing : BelowResult::kFailed;
  // RemoveDirectoryW would remove a link to a folder, not the folder; the name is a link
  // all the same, and a link is left alone.
  if (entry.kind == BelowKind::kLink)
    return BelowResult::kLink;
  if (entry.kind != BelowKind::kFolder)
    return BelowResult::kFailed;
  if (RemoveDirectoryW(path.c_str()))
    return BelowResult::kDone;
  return IsNotFound(GetLastError()) ? BelowResult::kMissing : BelowResult::kFailed;
}

std::size_t BelowFolder::RemoveTemporaries(std::string_view relative) const {
  Walk walk;
  if (WalkToFolder(handle_, relative, false, &walk, nullptr) != BelowResult::kDone)
    return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(walk.PathOf("*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE)
    return 0;
  std::size_t removed = 0;
  do {
    constexpr DWORD kNotFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    const std::string name = Narrow(found.cFileName);
    // A file a writer of ours still has open is refused by the system: only what an
    // interrupted run left goes.
    if ((found.dwFileAttributes & kNotFile) == 0 && IsTemporaryNameBelow(name) &&
        DeleteFileW(walk.PathOf(name).c_str()))
      ++removed;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return removed;
}

ReadResult BelowFolder::Read(std::string_view relative, std::uint64_t maxBytes,
                             std::string* bytes) const {
  bytes->clear();
  Walk walk;
  std::string name;
  const BelowResult opened = WalkToParent(handle_, relative, &walk, &name, nullptr);
  if (opened == BelowResult::kMissing)
    return ReadResult::kMissing;
  if (opened != BelowResult::kDone)
    return opened == BelowResult::kLink ? ReadResult::kNotRegular : ReadResult::kFailed;
  const Handle file(CreateFileW(walk.PathOf(name).c_str(), GENERIC_READ, kLookShare, nullptr,
                                OPEN_EXISTING, kNoFollow, nullptr));
  if (!file)
    return IsNotFound(GetLastError()) ? ReadResult::kMissing : ReadResult::kFailed;
  const ReadResult result = ReadOpened(file.get(), maxBytes, bytes);
  if (result != ReadResult::kRead)
    bytes->clear();
  return result;
}

NewFileBelow::~NewFileBelow() {
  Discard();
}

void NewFileBelow::Discard() {
  bool gone = temporary_.empty();
  if (file_ != nullptr) {
    // Through the handle: the file we made, wherever its folder has gone since.
    gone = gone || DeleteOpened(file_);
    CloseHandle(file_);
    file_ = nullptr;
  }
  if (!gone && below_ != nullptr) {
    Walk walk;
    if (WalkToFolder(below_->handle_, relativeFolder_, false, &walk, nullptr) == BelowResult::kDone)
      DeleteFileW(walk.PathOf(temporary_).c_str());
  }
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
  below_ = &below;
  Walk walk;
  std::string name;
  const BelowResult opened = WalkToParent(below.handle_, relative, &walk, &name, reason);
  if (opened != BelowResult::kDone)
    return opened;
  name_ = name;
  // The folder's names, joined the system's way, to walk again at Commit and to show.
  relativeFolder_.clear();
  std::vector<std::string_view> names;
  (void)SplitNames(relative, &names);
  names.pop_back();
  for (const std::string_view folder : names) {
    if (!relativeFolder_.empty())
      relativeFolder_.push_back('\\');
    relativeFolder_.append(folder);
  }
  for (int i = 0; i < kNameTries; ++i) {
    const std::string temporary = NewTemporaryNameBelow();
    const std::wstring path = walk.PathOf(temporary);
    // A signal between the file's creation and its registration would leave it behind.
    const HeldSignals held;
    if (held.Stopping()) {
      SetErrnoReason(reason, EINTR);
      return BelowResult::kFailed;
    }
    // No one else may write, rename or delete it while it is ours; DELETE lets Discard
    // remove it through this very handle.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      file_ = file;
      temporary_ = temporary;
      slot_ = RegisterCleanupFile(Narrow(path));
      return BelowResult::kDone;
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) {
      SetReason(reason, code);
      return BelowResult::kFailed;
    }
  }
  SetReason(reason, ERROR_FILE_EXISTS);
  return BelowResult::kFailed;
}

bool NewFileBelow::Write(std::string_view bytes) {
  if (file_ == nullptr || failed_)
    return false;
  const char* data = bytes.data();
  std::size_t size = bytes.size();
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 20));
    DWORD written = 0;
    if (!WriteFile(file_, data, piece, &written, nullptr) || written == 0) {
      failed_ = true;
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool NewFileBelow::WriteText(std::string_view bytes) {
  // As the page's text-mode stream writes it: each line feed goes out as CR LF.
  std::string piece;
  while (!bytes.empty()) {
    const std::size_t take = std::min<std::size_t>(bytes.size(), 1 << 20);
    piece.clear();
    for (const char c : bytes.substr(0, take)) {
      if (c == '\n')
        piece.push_back('\r');
      piece.push_back(c);
    }
    if (!Write(piece))
      return false;
    bytes.remove_prefix(take);
  }
  return true;
}

bool NewFileBelow::CopyFrom(const std::string& from, std::string* reason) {
  const Handle source(CreateFileW(Wide(from).c_str(), GENERIC_READ, kLookShare, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source) {
    SetReason(reason, GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(source.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(source.get(), &info) || IsFolderInfo(info)) {
    SetErrnoReason(reason, EINVAL);
    return false;
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source.get(), buffer, sizeof buffer, &got, nullptr)) {
      SetReason(reason, GetLastError());
      return false;
    }
    if (got == 0)
      break;
    if (!Write(std::string_view(buffer, got))) {
      SetReason(reason, GetLastError());
      return false;
    }
  }
  copyTime_ = TimeOf(info.ftLastWriteTime);
  return true;
}

bool NewFileBelow::Finish(bool durable, FileIdentity* identity, std::string* reason) {
  if (file_ == nullptr || failed_) {
    SetReason(reason, file_ == nullptr ? ERROR_INVALID_HANDLE : GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file_, &info)) {
    SetReason(reason, GetLastError());
    return false;
  }
  // The file system stamps a written file again when its handle closes, unless a time was
  // set through that handle: we set one (the source's for a copy, else the last write's),
  // so that the identity given now is still the file's once it is closed and named.
  const FILETIME written = copyTime_ >= 0 ? FileTimeOf(copyTime_) : info.ftLastWriteTime;
  if (!SetFileTime(file_, nullptr, nullptr, &written)) {
    SetReason(reason, GetLastError());
    return false;
  }
  if (durable && !FlushFileBuffers(file_)) {
    SetReason(reason, GetLastError());
    return false;
  }
  if (!GetFileInformationByHandle(file_, &info)) {
    SetReason(reason, GetLastError());
    return false;
  }
  *identity = IdentityOf(info);
  return true;
}

BelowResult NewFileBelow::Commit(bool durable, std::string* reason, bool anyFile) {
  if (file_ == nullptr || below_ == nullptr) {
    SetReason(reason, ERROR_INVALID_HANDLE);
    return BelowResult::kFailed;
  }
  // The folders on the way were let go after Create: they are walked again, and held
  // until the file has its name, so that the name is given in the folder we wrote in.
  Walk walk;
  const BelowResult walked = WalkToFolder(below_->handle_, relativeFolder_, false, &walk, reason);
  const auto fail = [&](BelowResult result) {
    Discard();
    return result;
  };
  if (walked == BelowResult::kMissing) {
    SetReason(reason, ERROR_PATH_NOT_FOUND);
    return fail(BelowResult::kChanged);
  }
  if (walked != BelowResult::kDone)
    return fail(walked);
  const std::wstring temporary = walk.PathOf(temporary_);
  const std::wstring target = walk.PathOf(name_);
  BY_HANDLE_FILE_INFORMATION ours;
  if (!GetFileInformationByHandle(file_, &ours)) {
    SetReason(reason, GetLastError());
    return fail(BelowResult::kFailed);
  }
  Entry there;
  if (!LookAt(temporary, &there) || !SameFile(ours, there.info)) {
    // Another folder stands where ours was.
    SetReason(reason, ERROR_FILE_NOT_FOUND);
    return fail(BelowResult::kChanged);
  }
  const bool found = LookAt(target, &there);
  const DWORD lookError = found ? ERROR_SUCCESS : GetLastError();
  if (found && anyFile && there.kind != BelowKind::kFolder && there.kind != BelowKind::kFile) {
    // Replaced as it is. A link to a folder is a folder entry, which no rename replaces:
    // it goes first (RemoveDirectoryW removes the link, never the folder it names).
    if ((there.info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
        !RemoveDirectoryW(target.c_str())) {
      SetReason(reason, GetLastError());
      return fail(BelowResult::kFailed);
    }
  } else if (found) {
    if (there.kind == BelowKind::kLink)
      return fail(BelowResult::kLink);
    if (there.kind != BelowKind::kFile) {
      SetErrnoReason(reason, there.kind == BelowKind::kFolder ? EISDIR : EINVAL);
      return fail(BelowResult::kChanged);
    }
    // A page the user marked read-only is left alone, whatever the account may override.
    if ((there.info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      SetReason(reason, ERROR_ACCESS_DENIED);
      return fail(BelowResult::kFailed);
    }
  } else if (!IsNotFound(lookError)) {
    SetReason(reason, lookError);
    return fail(BelowResult::kFailed);
  }
  // The rename needs our handle gone: it was opened to let no one rename the file.
  const bool closed = CloseHandle(file_) != FALSE;
  file_ = nullptr;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0);
  if (!closed || !MoveFileExW(temporary.c_str(), target.c_str(), flags)) {
    SetReason(reason, GetLastError());
    // While the folders are still held: the name is still the file we made.
    DeleteFileW(temporary.c_str());
    temporary_.clear();
    return fail(BelowResult::kFailed);
  }
  temporary_.clear();
  UnregisterCleanupFile(slot_);
  slot_ = -1;
  return BelowResult::kDone;
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
  Walk walk;
  std::string name;
  const BelowResult opened = WalkToParent(below.handle_, relative, &walk, &name, reason);
  if (opened != BelowResult::kDone)
    return opened;
  // Append access alone: every write lands at the end of the file. The name may be renamed
  // or removed while we hold the file, as on POSIX: the lines go to the file, not the name.
  constexpr DWORD kAccess =
      FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
  Handle file(CreateFileW(walk.PathOf(name).c_str(), kAccess, kLookShare, nullptr, OPEN_ALWAYS,
                          kNoFollow, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.get(), &info)) {
    SetReason(reason, GetLastError());
    return BelowResult::kFailed;
  }
  switch (KindOf(file.get(), info)) {
    case BelowKind::kFile:
      file_ = file.Release();
      return BelowResult::kDone;
    case BelowKind::kLink:
      return BelowResult::kLink;
    default:
      return BelowResult::kChanged;
  }
}

bool AppendFileBelow::Append(std::string_view bytes) {
  if (file_ == nullptr || bytes.size() > MAXDWORD)
    return false;
  DWORD written = 0;
  return WriteFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void AppendFileBelow::Close(FileIdentity* identity) {
  if (identity != nullptr)
    *identity = FileIdentity();
  if (file_ == nullptr)
    return;
  BY_HANDLE_FILE_INFORMATION info;
  // As in Finish: a time set through the handle keeps the close from stamping the file
  // anew, so the identity given is still the file's afterwards.
  if (identity != nullptr && GetFileInformationByHandle(file_, &info) &&
      SetFileTime(file_, nullptr, nullptr, &info.ftLastWriteTime))
    *identity = IdentityOf(info);
  CloseHandle(file_);
  file_ = nullptr;
}

}  // namespace tarvix::platform
