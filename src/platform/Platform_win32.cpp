// The platform layer on the Windows calls. Paths, arguments and messages are UTF-8 inside
// the program; they become UTF-16 only here, at the calls that take them.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// <windows.h> renames ReplaceFile to ReplaceFileW, which would rename ours as well.
#undef ReplaceFile
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Cleanup.h"
#include "platform/Platform.h"
#include "platform/Win32.h"

namespace tarvix::platform {

const char kPathSeparator = '\\';
const std::int64_t kStampUnitsPerSecond = 10000000;
const bool kPrefaults = false;

std::wstring Wide(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (needed <= 0) {
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) {
    return {};
  }
  const int size = static_cast<int>(text.size());
  const int needed =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), needed, nullptr, nullptr);
  return narrow;
}

namespace {

// The console behind `stream`, or null when the stream goes to a file or a pipe.
HANDLE ConsoleOf(std::FILE* stream) {
  const int fd = _fileno(stream);
  if (fd < 0) {
    return nullptr;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
    return nullptr;
  }
  return handle;
}

// Writes UTF-8 `text` where a person reads it. A console shows UTF-16 whatever its code
// page is, so it gets the characters; a file or a pipe gets the UTF-8 bytes, in text mode
// like the page, so the line ends match.
void WriteText(std::FILE* stream, std::string_view text) {
  if (HANDLE console = ConsoleOf(stream)) {
    // Whatever the stream still holds comes first.
    std::fflush(stream);
    const std::wstring wide = Wide(text);
    std::size_t done = 0;
    while (done < wide.size()) {
      // Large writes to a console can fail outright; a piece at a time always goes.
      std::size_t piece = std::min<std::size_t>(wide.size() - done, 8192);
      if (piece < wide.size() - done && IS_HIGH_SURROGATE(wide[done + piece - 1])) {
        --piece;
      }
      DWORD written = 0;
      if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(piece), &written,
                         nullptr) ||
          written == 0) {
        return;
      }
      done += written;
    }
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "Device or resource busy";
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return "File exists";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "No space left on device";
    case ERROR_FILENAME_EXCED_RANGE:
      return "File name too long";
    case ERROR_DIRECTORY:
      return "Not a directory";
    case ERROR_NOT_SAME_DEVICE:
      return "Invalid cross-device link";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return "Broken pipe";
    case ERROR_INVALID_HANDLE:
      return "Bad file descriptor";
    default:
      break;
  }
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
      nullptr);
  std::string words;
  if (length > 0 && text != nullptr) {
    words = Narrow(std::wstring_view(text, length));
    // The system's text ends in a full stop and a line end; the detail line has its own.
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.')) {
      words.pop_back();
    }
  }
  if (text != nullptr)
    LocalFree(text);
  if (words.empty())
    words = "Error " + std::to_string(code);
  return words;
}

namespace {

void SetReason(std::string* reason, DWORD code) {
  if (reason != nullptr)
    *reason = ErrorText(code);
}

void SetErrnoReason(std::string* reason, int code) {
  if (reason != nullptr)
    *reason = ErrnoText(code);
}

void RemoveOnSignal(const char* path) {
  DeleteFileW(Wide(path).c_str());
}

// Ctrl+C, Ctrl+Break, the console closing: the handler runs on a thread of its own, so it
// may convert paths. The default handler, after it, ends the process as before.
void PauseBriefly() {
  Sleep(1);
}

BOOL WINAPI OnConsoleEvent(DWORD /*event*/) {
  // The workers go on while we delete: first no new file may appear.
  StopCreation(PauseBriefly);
  ForEachCleanupFile(RemoveOnSignal);
  return FALSE;
}
// The folder part of `path` with its trailing '\\', or the current folder for a bare name.
std::wstring FolderPrefix(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring(L".\\") : path.substr(0, slash + 1);
}

bool IsProtected(const std::wstring& target) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// A new, empty, uniquely named file beside `target`; empty when none can be made.
std::wstring TemporaryBeside(const std::wstring& target) {
  const HeldSignals held;
  if (held.Stopping())
    return {};
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(FolderPrefix(target).c_str(), L"Tar", 0, name) == 0)
    return {};
  return name;
}

// Moves the finished `temporary` onto `target`; the temporary file is removed on failure.
bool Publish(bool ok, const std::wstring& temporary, const std::wstring& target) {
  ok = ok && MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
  if (!ok)
    DeleteFileW(temporary.c_str());
  return ok;
}

void WriteLine(std::FILE* stream, std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  WriteText(stream, text);
}

}  // namespace

bool IsOptionMarker(char c) {
  return c == '-' || c == '/';
}

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  // The C runtime's argv went through the ANSI code page; the command line itself has
  // every character the user typed.
  std::vector<std::string> arguments;
  int count = 0;
  LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
  if (split == nullptr) {
    return arguments;
  }
  for (int i = 1; i < count; ++i) {
    arguments.push_back(Narrow(split[i]));
  }
  LocalFree(split);
  return arguments;
}

std::string ErrnoText(int code) {
  char buffer[256];
  if (strerror_s(buffer, sizeof buffer, code) != 0)
    return "Unknown error";
  return buffer;
}

void PrepareProcess() {
  // Only the C runtime's own conversions follow the locale; the converter works on UTF-8
  // bytes and never asks it.
  std::setlocale(LC_ALL, "Japanese");
  InstallSignalCleanup();
}

HeldSignals::HeldSignals() {
  EnterCreation();
}

HeldSignals::~HeldSignals() {
  LeaveCreation();
}

bool HeldSignals::Stopping() const {
  return CreationStopped();
}

void InstallSignalCleanup() {
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StatusOf(const std::string& path, FileStatus* status, std::string* reason) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) {
    SetReason(reason, ERROR_FILE_NOT_FOUND);
    return false;
  }
  // Backup semantics opens folders too; the handle only reads attributes.
  HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    SetReason(reason, GetLastError());
    return false;
  }
  *status = FileStatus{};
  const DWORD type = GetFileType(file);
  BY_HANDLE_FILE_INFORMATION info{};
  if (type == FILE_TYPE_PIPE) {
    status->kind = FileKind::Pipe;
  } else if (type != FILE_TYPE_DISK) {
    status->kind = FileKind::Device;
  } else if (GetFileInformationByHandle(file, &info)) {
    status->kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Folder
                                                                           : FileKind::Regular;
    if (status->kind == FileKind::Regular)
      status->size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    status->device = info.dwVolumeSerialNumber;
    status->inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  } else {
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetReason(reason, error);
    return false;
  }
  CloseHandle(file);
  return true;
}

std::string OtherKindReason() {
  return "Is no file";
}

std::string ReadFailureReason(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return ErrorText(GetLastError());
  CloseHandle(file);
  return {};
}

std::string TemporaryFolder() {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH)
    return {};
  std::string narrow = Narrow(std::wstring_view(folder, length));
  // The call ends the folder in a backslash; messages name it without one, as POSIX does.
  if (narrow.size() > 3 && narrow.back() == '\\')
    narrow.pop_back();
  return narrow;
}

bool PathExists(const std::string& path) {
  return PathFileExistsW(Wide(path).c_str()) != FALSE;
}

std::string FullPath(const std::string& path) {
  const std::wstring wide = Wide(path);
  if (wide.empty()) {
    return {};
  }
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) {
      return {};
    }
    if (length < buffer.size()) {
      buffer.resize(length);
      return Narrow(buffer);
    }
    // Too small: `length` is the size needed, terminating NUL included.
    buffer.resize(length);
  }
}

bool ReadWholeFile(const std::string& path, bool textMode, std::string* bytes,
                   std::string* reason) {
  bytes->clear();
  // Text mode is the C runtime's: CR LF arrives as LF, and a 0x1A byte ends the file.
  std::FILE* file = _wfopen(Wide(path).c_str(), textMode ? L"rt" : L"rb");
  if (file == nullptr) {
    SetErrnoReason(reason, errno);
    return false;
  }
  const long long size = _filelengthi64(_fileno(file));
  if (size > 0) {
    bytes->reserve(static_cast<std::size_t>(size));
  }
  // The size is an upper bound in text mode, so the bytes never outgrow what was reserved.
  bool ok = true;
  char buffer[65536];
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) {
      ok = std::ferror(file) == 0;
      if (!ok)
        SetErrnoReason(reason, errno);
      break;
    }
    bytes->append(buffer, got);
  }
  std::fclose(file);
  if (!ok) {
    bytes->clear();
  }
  return ok;
}

// The Windows program reads its documents: a view of a file whose pages fail to come in
// (a network share gone away) raises an exception that would end the process, where a
// failed read is reported.
MappedFile::~MappedFile() = default;

bool MapFile(const std::string& /*path*/, MappedFile* /*file*/) {
  return false;
}

void ReleaseMapped(MappedFile& /*file*/, std::size_t /*upTo*/) {}

bool MappingIntact(const MappedFile& /*file*/) {
  return true;
}

bool ReadMappedFile(const MappedFile& /*file*/, std::string* bytes, std::string* reason) {
  bytes->clear();
  SetErrnoReason(reason, EBADF);
  return false;
}

bool ReadStandardInput(std::string* bytes) {
  bytes->clear();
  // The document's bytes as they are: a text-mode read would drop CRs and stop at 0x1A.
  if (_setmode(_fileno(stdin), _O_BINARY) == -1) {
    return false;
  }
  char buffer[65536];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
    if (got == 0) {
      return std::ferror(stdin) == 0;
    }
    bytes->append(buffer, got);
  }
}

void AdviseLargeBuffer(void* /*data*/, std::size_t /*size*/) {
  // Windows gives large pages only to memory allocated for them, by an account holding the
  // "lock pages in memory" right; an existing buffer cannot be advised.
}

bool PrefaultForWriting(void* /*data*/, std::size_t /*size*/) {
  // Memory the heap has committed is made ready at its first write; there is no advice
  // that does it beforehand without writing into it.
  return false;
}

bool CreateTemporaryFile(const std::string& prefix, std::string* path, std::string* reason,
                         const std::string& besideFolder) {
  wchar_t folder[MAX_PATH + 1];
  if (!besideFolder.empty()) {
    const std::wstring wide = Wide(besideFolder);
    if (wide.size() > MAX_PATH) {
      SetReason(reason, ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
    wide.copy(folder, wide.size());
    folder[wide.size()] = L'\0';
  } else {
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) {
      SetReason(reason, length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE);
      return false;
    }
  }
  // Only the prefix's first three characters make it into the name ("Tar1A2B.tmp"); the
  // call creates the file empty, so the name is ours.
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(folder, Wide(prefix).c_str(), 0, name) == 0) {
    SetReason(reason, GetLastError());
    return false;
  }
  *path = Narrow(name);
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& target, std::string* reason) {
  const std::wstring wideTarget = Wide(target);
  // A page the user marked read-only is left alone, whatever the account may override.
  const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetReason(reason, ERROR_ACCESS_DENIED);
    return false;
  }
  // A device (NUL, a console) takes the page as a copy; there is no file to replace.
  FileStatus status;
  if (StatusOf(target, &status) && status.kind != FileKind::Regular &&
      status.kind != FileKind::Folder) {
    if (CopyFileW(Wide(from).c_str(), wideTarget.c_str(), FALSE) == FALSE) {
      SetReason(reason, GetLastError());
      return false;
    }
    DeleteFileW(Wide(from).c_str());
    return true;
  }
  // One call replaces the target, so there is no moment without a page; a temporary
  // folder on another drive makes it a copy, and the write-through returns only once the
  // page is on the disk.
  if (MoveFileExW(Wide(from).c_str(), wideTarget.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) ==
      FALSE) {
    SetReason(reason, GetLastError());
    return false;
  }
  return true;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) != FALSE;
}

bool RemoveEmptyFolder(const std::string& folder) {
  return RemoveDirectoryW(Wide(folder).c_str()) != FALSE;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  entries->clear();
  std::wstring prefix = Wide(folder);
  if (!prefix.empty() && prefix.back() != L'\\' && prefix.back() != L'/')
    prefix.push_back(L'\\');
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((prefix + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..")
      continue;
    FolderEntry item;
    item.name = Narrow(name);
    item.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    DWORD attributes = found.dwFileAttributes;
    if (item.link) {
      // What the link names: its own attributes are the link's.
      attributes = GetFileAttributesW((prefix + std::wstring(name)).c_str());
      HANDLE target = CreateFileW((prefix + std::wstring(name)).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (target == INVALID_HANDLE_VALUE) {
        attributes = INVALID_FILE_ATTRIBUTES;
      } else {
        CloseHandle(target);
      }
    }
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      item.kind =
          (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::Folder : EntryKind::File;
    }
    entries->push_back(std::move(item));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return true;
}

FileStamp StampOf(const std::string& path) {
  FileStamp stamp;
  HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return stamp;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    stamp.exists = true;
    stamp.time = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  CloseHandle(file);
  return stamp;
}

// Windows opens each file by its whole path: the looks go by path, as the callers would.
FolderLooks::~FolderLooks() = default;

void FolderLooks::Open(const std::string& folder) {
  path_ = folder;
}

std::string FolderLooks::PathOf(std::string_view relative) const {
  // As the run joins a folder and a name: the same path it looked at before.
  if (path_.empty() || relative.empty())
    return path_.empty() ? std::string(relative) : path_;
  std::string path = path_;
  path.push_back('\\');
  return path.append(relative);
}

bool FolderLooks::StatusOf(std::string_view relative, FileStatus* status) const {
  return platform::StatusOf(PathOf(relative), status);
}

FileStamp FolderLooks::StampOf(std::string_view relative) const {
  return platform::StampOf(PathOf(relative));
}

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolders(const std::string& folder) {
  const std::wstring wide = Wide(folder);
  if (wide.empty())
    return false;
  if (IsFolder(folder))
    return true;
  // Each prefix that ends before a separator, then the whole path; a drive ("C:") or a
  // share exists already or not at all.
  for (std::size_t at = 1; at <= wide.size(); ++at) {
    if (at < wide.size() && wide[at] != L'\\' && wide[at] != L'/')
      continue;
    const std::wstring part = wide.substr(0, at);
    if (part.back() == L':')
      continue;
    if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
        GetLastError() != ERROR_ACCESS_DENIED)
      return false;
  }
  return IsFolder(folder);
}

std::string RealPath(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return {};
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                       FILE_NAME_NORMALIZED);
  }
  CloseHandle(file);
  if (length == 0 || length >= buffer.size())
    return FullPath(path);
  buffer.resize(length);
  // The call answers with the long-path prefix "\\?\"; the paths the program compares
  // it with have none.
  constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
  if (buffer.compare(0, kLongPrefix.size(), kLongPrefix) == 0)
    buffer.erase(0, kLongPrefix.size());
  return Narrow(buffer);
}

std::int64_t FileClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return static_cast<std::int64_t>((std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
}

ReadResult ReadRegularFile(const std::string& path, std::uint64_t maxBytes, std::string* bytes) {
  bytes->clear();
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadResult::kMissing
                                                                          : ReadResult::kFailed;
  }
  ReadResult result = ReadResult::kRead;
  LARGE_INTEGER size;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    result = ReadResult::kNotRegular;
  } else if (!GetFileSizeEx(file, &size)) {
    result = ReadResult::kFailed;
  } else if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
    result = ReadResult::kTooLarge;
  } else {
    bytes->resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < bytes->size()) {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes->size() - got, 1 << 20));
      DWORD read = 0;
      if (!ReadFile(file, bytes->data() + got, piece, &read, nullptr) || read == 0)
        break;
      got += read;
    }
    bytes->resize(got);
  }
  CloseHandle(file);
  if (result != ReadResult::kRead)
    bytes->clear();
  return result;
}

bool StandardErrorIsTerminal() {
  return ConsoleOf(stderr) != nullptr;
}

OutputStream::~OutputStream() {
  if (file_ != nullptr && ownsFile_) {
    std::fclose(static_cast<std::FILE*>(file_));
  }
}

bool OutputStream::OpenFile(const std::string& path, std::string* reason) {
  // Text mode: every LF of the page is written as CR LF.
  std::FILE* file = _wfopen(Wide(path).c_str(), L"wt");
  if (file == nullptr) {
    SetErrnoReason(reason, errno);
    return false;
  }
  Hold(file);
  return true;
}

bool OutputStream::OpenNode(const std::string& path, std::string* reason) {
  // A device is opened as a file is: "w" on NUL or a console empties nothing.
  return OpenFile(path, reason);
}

void OutputStream::OpenStandardOutput() {
  file_ = stdout;
  ownsFile_ = false;
  std::clearerr(stdout);
  // A process started without a standard output has no handle behind the stream: the page
  // is lost from the start.
  const int fd = _fileno(stdout);
  const intptr_t handle = fd < 0 ? -1 : _get_osfhandle(fd);
  failed_ = handle == -1 || handle == -2 || handle == 0;
}

void PrintMessage(std::string_view line) {
  WriteLine(stdout, line);
}

void PrintError(std::string_view line) {
  WriteLine(stderr, line);
}

void PrintText(std::string_view text) {
  WriteText(stdout, text);
}

void PrintErrorText(std::string_view text) {
  WriteText(stderr, text);
}

// ---- Files read below a folder that a link swapped in meanwhile must not leave ----

namespace {

// The path the system reached through an open handle, links resolved; empty when it
// cannot say.
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring buffer(MAX_PATH, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                       FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= buffer.size())
    return {};
  buffer.resize(length);
  return buffer;
}

// Opens `path` to read it, folders too (their handle tells what they are).
HANDLE OpenToRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

BelowRead ReadFileBelow(const std::string& folder, const std::string& relative, bool textMode,
                        std::string* bytes, FileKind* kind, std::string* reason) {
  bytes->clear();
  const std::wstring base = Wide(folder.empty() ? std::string(".") : folder);
  HANDLE baseHandle = OpenToRead(base);
  if (baseHandle == INVALID_HANDLE_VALUE) {
    SetReason(reason, GetLastError());
    return BelowRead::kFailed;
  }
  std::wstring below = FinalPathOf(baseHandle);
  CloseHandle(baseHandle);
  // The system follows the links as it opens; the handle then says where it arrived, and
  // only what lies below the folder is read from it, through that same handle.
  HANDLE file = OpenToRead(base + L"\\" + Wide(relative));
  if (file == INVALID_HANDLE_VALUE) {
    SetReason(reason, GetLastError());
    return BelowRead::kFailed;
  }
  const std::wstring reached = FinalPathOf(file);
  if (!below.empty() && below.back() != L'\\')
    below.push_back(L'\\');
  const bool inside =
      !below.empty() && reached.size() > below.size() &&
      CompareStringOrdinal(reached.c_str(), static_cast<int>(below.size()), below.c_str(),
                           static_cast<int>(below.size()), TRUE) == CSTR_EQUAL;
  if (!inside) {
    CloseHandle(file);
    return reached.empty() && !below.empty() ? BelowRead::kFailed : BelowRead::kOutside;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *kind = type == FILE_TYPE_PIPE   ? FileKind::Pipe
            : type != FILE_TYPE_DISK ? FileKind::Device
                                     : FileKind::Folder;
    CloseHandle(file);
    return BelowRead::kNotRegular;
  }
  // The C runtime takes the handle over, so that text mode reads as ReadWholeFile's does.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file),
                                 _O_RDONLY | (textMode ? _O_TEXT : _O_BINARY));
  if (fd < 0) {
    CloseHandle(file);
    SetReason(reason, ERROR_INVALID_HANDLE);
    return BelowRead::kFailed;
  }
  std::FILE* stream = _fdopen(fd, textMode ? "rt" : "rb");
  if (stream == nullptr) {
    _close(fd);
    SetReason(reason, ERROR_INVALID_HANDLE);
    return BelowRead::kFailed;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, stream);
    if (got == 0) {
      ok = std::ferror(stream) == 0;
      if (!ok)
        SetErrnoReason(reason, errno);
      break;
    }
    bytes->append(buffer, got);
  }
  std::fclose(stream);
  if (!ok) {
    bytes->clear();
    return BelowRead::kFailed;
  }
  return BelowRead::kRead;
}

// --- A reader that closed the page's pipe -----------------------------------------------

bool IsClosedPipeReason(std::string_view reason) {
  // A write through the C stream says EPIPE; one through the handle, what ReasonText gives.
  return reason == ErrnoText(EPIPE) || reason == "Broken pipe";
}

void EndAsClosedPipe() {
  std::_Exit(1);
}

}  // namespace tarvix::platform
