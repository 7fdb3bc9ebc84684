// Runs the built program as a user would: in a chosen folder, with its standard output and
// standard error captured and its exit status returned. End-to-end tests use it.
#pragma once

#if defined(_WIN32)
#error "RunProgram.h starts the program with POSIX calls; a Windows build needs its own"
#else

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/ScopedTempDir.h"

extern char** environ;

namespace tarvix {

// Where the program's standard output goes.
enum class StdoutMode {
  kCapture,  // into RunResult::out
  kClosed,   // descriptor 1 is not open at all
  kDevFull,  // /dev/full: every write fails with "no space left"
};

struct RunOptions {
  // Variables set (or replaced) in the program's environment, such as TMPDIR: name, value.
  using Variable = std::pair<std::string, std::string>;
  std::vector<Variable> environment;
  StdoutMode stdoutMode = StdoutMode::kCapture;
  int umask = -1;  // the program's file-creation mask; -1 keeps the test's
};

struct RunResult {
  int status = -1;  // the exit status; 128 + the signal number when a signal ended it
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

  std::vector<std::string> environmentStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const auto& [name, value] : options.environment) {
      const std::string prefix = name + "=";
      replaced = replaced || std::strncmp(*e, prefix.c_str(), prefix.size()) == 0;
    }
    if (!replaced)
      environmentStrings.emplace_back(*e);
  }
  for (const auto& [name, value] : options.environment)
    environmentStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : environmentStrings)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t child = fork();
  if (child < 0)
    return result;
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int out = -1;
    if (options.stdoutMode == StdoutMode::kCapture)
      out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else if (options.stdoutMode == StdoutMode::kDevFull)
      out = open("/dev/full", O_WRONLY);
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

// The superuser may read and replace any file, so permission bits do not stop it.
inline bool RunsAsSuperuser() {
  return geteuid() == 0;
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

}  // namespace tarvix

#endif  // !defined(_WIN32)
