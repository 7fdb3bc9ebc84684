// Runs the built program as a user would: in a chosen folder, with its standard output and
// standard error captured and its exit status returned. End-to-end tests use it, together
// with the few helpers below that say what each system does differently on purpose.
#pragma once

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/ScopedTempDir.h"
#include "text/Text.h"

namespace tarvix {

// Where the program's standard output goes.
enum class StdoutMode {
  kCapture,     // into RunResult::out
  kClosed,      // the program has no standard output at all
  kDevFull,     // POSIX only: /dev/full, where every write fails with "no space left"
  kBrokenPipe,  // POSIX only: a pipe whose reader has gone away
};

// A variable set (or replaced) in the program's environment: name, value.
using EnvironmentVariable = std::pair<std::string, std::string>;

struct RunOptions {
  // The system's temporary folder for the program (TMPDIR on POSIX, TMP on Windows); the
  // test's own when empty.
  std::string temporaryFolder;
  StdoutMode stdoutMode = StdoutMode::kCapture;
  int umask = -1;  // POSIX only: the program's file-creation mask; -1 keeps the test's
  // POSIX only: the most address space the program may have (RLIMIT_AS); 0 for no limit.
  std::size_t addressSpaceLimit = 0;
  // A file whose bytes the program reads as its standard input; empty: an empty input.
  std::string standardInput;
};

struct RunResult {
  int status = -1;  // the exit status; on POSIX 128 + the signal number when a signal ended it
  std::string out;
  std::string err;
};

// The bytes of the file at `path`; empty when it cannot be read. Reads in one piece, since
// pages of hostile inputs run to tens of megabytes.
inline std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file)
    return {};
  std::string bytes(static_cast<std::size_t>(file.tellg()), '\0');
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// The names in `folder`, sorted: what a run left behind.
inline std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A path written with '/' in the form the program splits on this system.
inline std::string Native(std::string_view path) {
  return ToNativeSeparators(path);
}

}  // namespace tarvix

#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef ReplaceFile

namespace tarvix {

inline constexpr bool kWindows = true;

// What the program writes in text mode for a line end.
inline constexpr std::string_view kLineEnd = "\r\n";

// std::filesystem::permissions only sets the read-only attribute here: a file can always
// be read.
inline bool CanMakeUnreadableFiles() {
  return false;
}

// A path the build wrote in (the program, the sources) in a form Windows opens. A build on a
// Unix host gives "/..." paths, which wine reaches through its drive Z:, the Unix root.
inline std::string HostPath(std::string_view path) {
  if (!path.empty() && path.front() == '/')
    return "Z:" + std::string(path);
  return std::string(path);
}

namespace run_program_internal {

inline std::wstring Wide(std::string_view text) {
  if (text.empty())
    return {};
  const int size = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(needed, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), needed);
  return wide;
}

// `argument` as one word of a command line that CommandLineToArgvW splits back.
inline std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: there they are doubled, and the quote escaped.
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

// This process's environment with `variables` set, as CreateProcessW takes it.
inline std::wstring EnvironmentBlock(const std::vector<EnvironmentVariable>& variables) {
  std::wstring block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* e = strings; e != nullptr && *e != L'\0'; e += wcslen(e) + 1) {
    bool replaced = false;
    for (const auto& [name, value] : variables) {
      const std::wstring prefix = Wide(name) + L"=";
      replaced = replaced || _wcsnicmp(e, prefix.c_str(), prefix.size()) == 0;
    }
    if (!replaced)
      block.append(e).push_back(L'\0');
  }
  FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : variables)
    block.append(Wide(name + "=" + value)).push_back(L'\0');
  block.push_back(L'\0');
  return block;
}

inline HANDLE CreateCaptureFile(const std::string& path) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace run_program_internal

// Runs the program named by TARVIX_PROGRAM in the working folder `folder` with `arguments`
// (without the program name).
inline RunResult RunProgram(const std::string& folder, const std::vector<std::string>& arguments,
                            const RunOptions& options = {}) {
  using namespace run_program_internal;
  RunResult result;
  // Both streams go to files rather than pipes, so a page of any size cannot block the
  // program while the test waits for it.
  ScopedTempDir capture;
  const std::string outPath = capture.PathOf("stdout");
  const std::string errPath = capture.PathOf("stderr");

  const std::wstring program = Wide(HostPath(TARVIX_PROGRAM));
  std::wstring commandLine = Quoted(program);
  for (const std::string& a : arguments)
    commandLine.append(L" ").append(Quoted(Wide(a)));
  std::vector<EnvironmentVariable> variables;
  if (!options.temporaryFolder.empty())
    variables.emplace_back("TMP", options.temporaryFolder);
  std::wstring environment = EnvironmentBlock(variables);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const std::wstring inPath = options.standardInput.empty() ? L"NUL" : Wide(options.standardInput);
  HANDLE in = CreateFileW(inPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE err = CreateCaptureFile(errPath);
  // An invalid handle is a standard output that was never opened. (Wine hands a process
  // given a null one a handle of its own.)
  const bool captured = options.stdoutMode == StdoutMode::kCapture;
  HANDLE out = captured ? CreateCaptureFile(outPath) : INVALID_HANDLE_VALUE;
  const bool ready = in != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
                     (out != INVALID_HANDLE_VALUE || !captured) &&
                     options.stdoutMode != StdoutMode::kDevFull &&
                     options.stdoutMode != StdoutMode::kBrokenPipe;

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const bool started =
      ready && CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                              CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                              Wide(folder).c_str(), &startup, &process);
  for (HANDLE h : {in, err, out}) {
    if (h != INVALID_HANDLE_VALUE)
      CloseHandle(h);
  }
  if (!started)
    return result;
  WaitForSingleObject(process.hProcess, INFINITE);
  // Wine reports a process ended a moment before it closes the process's handles, and until
  // then its files and working folder cannot be deleted. Once the standard error file opens
  // without sharing, they are closed.
  const std::wstring errFile = Wide(errPath);
  for (int wait = 0; wait < 5000; ++wait) {
    HANDLE alone =
        CreateFileW(errFile.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (alone != INVALID_HANDLE_VALUE) {
      CloseHandle(alone);
      break;
    }
    Sleep(1);
  }
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code))
    result.status = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  result.out = FileBytes(outPath);
  result.err = FileBytes(errPath);
  return result;
}

}  // namespace tarvix

#else  // POSIX

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace tarvix {

inline constexpr bool kWindows = false;

// What the program writes for a line end.
inline constexpr std::string_view kLineEnd = "\n";

// The superuser may read any file, so permission bits do not stop it.
inline bool CanMakeUnreadableFiles() {
  return geteuid() != 0;
}

// A path the build wrote in (the program, the sources), as the system opens it.
inline std::string HostPath(std::string_view path) {
  return std::string(path);
}

// Runs the program named by TARVIX_PROGRAM in the working folder `folder` with `arguments`
// (without the program name).
inline RunResult RunProgram(const std::string& folder, const std::vector<std::string>& arguments,
                            const RunOptions& options = {}) {
  RunResult result;
  // Both streams go to files rather than pipes, so a page of any size cannot block the
  // program while the test waits for it.
  ScopedTempDir capture;
  const std::string outPath = capture.PathOf("stdout");
  const std::string errPath = capture.PathOf("stderr");

  // Everything the child needs is made before fork: after it, only plain system calls.
  std::vector<std::string> argumentStrings{TARVIX_PROGRAM};
  argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : argumentStrings)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<EnvironmentVariable> variables;
  if (!options.temporaryFolder.empty())
    variables.emplace_back("TMPDIR", options.temporaryFolder);
  std::vector<std::string> environmentStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const auto& [name, value] : variables) {
      const std::string prefix = name + "=";
      replaced = replaced || std::strncmp(*e, prefix.c_str(), prefix.size()) == 0;
    }
    if (!replaced)
      environmentStrings.emplace_back(*e);
  }
  for (const auto& [name, value] : variables)
    environmentStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : environmentStrings)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  const char* inPath = options.standardInput.empty() ? "/dev/null" : options.standardInput.c_str();
  const pid_t child = fork();
  if (child < 0)
    return result;
  if (child == 0) {
    const int in = open(inPath, O_RDONLY);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int out = -1;
    if (options.stdoutMode == StdoutMode::kCapture)
      out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else if (options.stdoutMode == StdoutMode::kDevFull)
      out = open("/dev/full", O_WRONLY);
    else if (options.stdoutMode == StdoutMode::kBrokenPipe) {
      int ends[2];
      if (pipe(ends) == 0) {
        close(ends[0]);
        out = ends[1];
      }
    }
    if (in < 0 || err < 0 || (out < 0 && options.stdoutMode != StdoutMode::kClosed))
      _exit(125);
    dup2(in, 0);
    dup2(err, 2);
    if (out >= 0)
      dup2(out, 1);
    else
      close(1);
    for (int fd : {in, err, out}) {
      if (fd > 2)
        close(fd);
    }
    if (chdir(folder.c_str()) != 0)
      _exit(126);
    if (options.umask >= 0)
      umask(static_cast<mode_t>(options.umask));
    if (options.addressSpaceLimit > 0) {
      const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
      if (setrlimit(RLIMIT_AS, &limit) != 0)
        _exit(124);
    }
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status))
    result.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.status = 128 + WTERMSIG(status);
  result.out = FileBytes(outPath);
  result.err = FileBytes(errPath);
  return result;
}

}  // namespace tarvix

#endif  // _WIN32

namespace tarvix {

// `text` with each LF as the program writes it: the standard streams and the page are in
// text mode on Windows, so there an LF becomes CR LF.
inline std::string Lines(std::string_view text) {
  return ReplaceAll(text, "\n", kLineEnd);
}

}  // namespace tarvix
