#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Platform.h"

namespace tarvix::platform {

const char kPathSeparator = '/';

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

// The permission bits a new file gets from this process: what a plain fopen would create.
mode_t NewFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
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

// `from` and `target` are on different file systems, so rename cannot move the page. Copy it
// next to the target first, then rename that copy over the target so the target still
// changes in one step: it is either the old file or the complete new one.
bool CopyAcrossFileSystems(const std::string& from, const std::string& target, mode_t mode) {
  const int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    return false;
  }
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  std::string copy;
  const int fd = CreateUniqueFile(folder + ".TarvixXXXXXX", &copy);
  if (fd < 0) {
    close(source);
    return false;
  }
  bool ok = CopyContents(source, fd);
  close(source);
  ok = ok && fsync(fd) == 0;
  ok = ok && fchmod(fd, mode) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(copy.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(copy.c_str());
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

void PrepareProcess() {
  if (std::setlocale(LC_ALL, "") == nullptr) {
    std::setlocale(LC_ALL, "C.UTF-8");
  }
  std::signal(SIGPIPE, SIG_IGN);
}

bool PathExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

bool ReadWholeFile(const std::string& path, bool /*textMode*/, std::string* bytes) {
  bytes->clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    close(fd);
    return false;
  }
  // Other kinds of file (a pipe, a terminal) are read too: their size is simply unknown.
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    bytes->reserve(static_cast<std::size_t>(info.st_size));
    AdviseLargeBuffer(bytes->data(), bytes->capacity());
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      close(fd);
      bytes->clear();
      return false;
    }
    if (got == 0) {
      break;
    }
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return true;
}

bool ReadStandardInput(std::string* bytes) {
  bytes->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    if (got == 0) {
      return true;
    }
    bytes->append(buffer, static_cast<std::size_t>(got));
  }
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

bool CreateTemporaryFile(const std::string& prefix, std::string* path) {
  const char* variable = std::getenv("TMPDIR");
  std::string folder = (variable != nullptr && *variable != '\0') ? variable : "/tmp";
  while (folder.size() > 1 && folder.back() == '/') {
    folder.pop_back();
  }
  if (folder != "/") {
    folder.push_back('/');
  }
  std::string created;
  const int fd = CreateUniqueFile(folder + prefix + "XXXXXX", &created);
  if (fd < 0) {
    return false;
  }
  if (close(fd) != 0) {
    unlink(created.c_str());
    return false;
  }
  *path = created;
  return true;
}

bool ReplaceFile(const std::string& from, const std::string& target) {
  mode_t mode;
  struct stat info;
  if (stat(target.c_str(), &info) == 0) {
    // The superuser may rename over anything, so a page the user protected with chmod a-w
    // must be refused here rather than by the system.
    if ((info.st_mode & kWriteBits) == 0) {
      return false;
    }
    mode = info.st_mode & 07777;
  } else {
    mode = NewFileMode();
  }
  // The temporary file is private (0600); a published page must keep the access its
  // readers, such as a web server, had before.
  if (chmod(from.c_str(), mode) != 0) {
    return false;
  }
  if (rename(from.c_str(), target.c_str()) == 0) {
    return true;
  }
  if (errno != EXDEV) {
    return false;
  }
  return CopyAcrossFileSystems(from, target, mode);
}

bool RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

OutputStream::~OutputStream() {
  if (file_ != nullptr && ownsFile_) {
    std::fclose(static_cast<std::FILE*>(file_));
  }
}

bool OutputStream::OpenFile(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    return false;
  }
  // When the program was started with a standard stream closed, the file would get that
  // stream's number and every message meant for the stream would land in the page.
  if (fd <= STDERR_FILENO) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(fd);
    if (moved < 0) {
      return false;
    }
    fd = moved;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
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
  // With descriptor 1 closed the writes would only fail at the flush, or worse land in a
  // file that happened to get that descriptor; count the page as lost from the start.
  failed_ = fcntl(STDOUT_FILENO, F_GETFD) == -1;
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

}  // namespace tarvix::platform
