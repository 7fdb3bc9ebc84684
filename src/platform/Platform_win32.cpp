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
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace tarvix::platform {

const char kPathSeparator = '\\';

namespace {

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

void PrepareProcess() {
  // Only the C runtime's own conversions follow the locale; the converter works on UTF-8
  // bytes and never asks it.
  std::setlocale(LC_ALL, "Japanese");
}

bool PathExists(const std::string& path) {
  return PathFileExistsW(Wide(path).c_str()) != FALSE;
}

bool IsRegularFile(const std::string& path) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  // Device names such as NUL or CON have attributes too; only a disk file is ordinary.
  HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return disk;
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

bool ReadWholeFile(const std::string& path, bool textMode, std::string* bytes) {
  bytes->clear();
  // Text mode is the C runtime's: CR LF arrives as LF, and a 0x1A byte ends the file.
  std::FILE* file = _wfopen(Wide(path).c_str(), textMode ? L"rt" : L"rb");
  if (file == nullptr) {
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
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got == 0) {
      ok = std::ferror(file) == 0;
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

bool CreateTemporaryFile(const std::string& prefix, std::string* path) {
  wchar_t folder[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    return false;
  }
  // Only the prefix's first three characters make it into the name ("Tar1A2B.tmp"); the
  // call creates the file empty, so the name is ours.
  wchar_t name[MAX_PATH];
  if (GetTempFileNameW(folder, Wide(prefix).c_str(), 0, name) == 0) {
    return false;
  }
  *path = Narrow(name);
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& target) {
  const std::wstring wideTarget = Wide(target);
  // A page the user marked read-only is left alone, whatever the account may override.
  const DWORD attributes = GetFileAttributesW(wideTarget.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  // One call replaces the target, so there is no moment without a page; a temporary
  // folder on another drive makes it a copy, and the write-through returns only once the
  // page is on the disk.
  return MoveFileExW(Wide(from).c_str(), wideTarget.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) !=
         FALSE;
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(Wide(path).c_str()) != FALSE;
}

OutputStream::~OutputStream() {
  if (file_ != nullptr && ownsFile_) {
    std::fclose(static_cast<std::FILE*>(file_));
  }
}

bool OutputStream::OpenFile(const std::string& path) {
  // Text mode: every LF of the page is written as CR LF.
  std::FILE* file = _wfopen(Wide(path).c_str(), L"wt");
  if (file == nullptr) {
    return false;
  }
  file_ = file;
  ownsFile_ = true;
  failed_ = false;
  return true;
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

}  // namespace tarvix::platform
