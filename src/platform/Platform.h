// Operating-system services: the command line, paths, files, the temporary output file
// and console messages. Everything the converter asks of the system goes through here;
// Platform_posix.cpp implements it on POSIX, Platform_win32.cpp on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform {

// The separator between a folder and a name in the paths of this system.
extern const char kPathSeparator;

// True when an argument beginning with `c` is an option ("-name"; on Windows also "/name").
[[nodiscard]] bool IsOptionMarker(char c);

// The arguments of the process as UTF-8 strings, without the program name. On POSIX they
// come from argv; the Windows build reads the process command line itself.
[[nodiscard]] std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Readies the process: sets the locale for messages (the converter itself never consults
// it) and makes a reader of the standard output that goes away a failed write, which the
// driver reports, rather than an end of the program without a word.
void PrepareProcess();

// True when `path` names an existing file or folder.
[[nodiscard]] bool PathExists(const std::string& path);

// True when `path` names an ordinary file: not a folder, a device or a pipe, whose reading
// could never end (a document naming /dev/zero as its include or template).
[[nodiscard]] bool IsRegularFile(const std::string& path);

// The absolute, normalised form of `path` (relative names are taken from the current
// folder; a trailing separator is kept). Empty when it cannot be made.
[[nodiscard]] std::string FullPath(const std::string& path);

// Reads a whole file as bytes. False when it cannot be opened or read (a folder, no
// permission); `bytes` is then empty. `textMode` asks for the platform's text-mode read
// (CR LF becomes LF on Windows; the same bytes on POSIX).
[[nodiscard]] bool ReadWholeFile(const std::string& path, bool textMode, std::string* bytes);

// Reads the standard input to its end as bytes (binary mode on Windows). False when a
// read fails; `bytes` then holds what came before.
[[nodiscard]] bool ReadStandardInput(std::string* bytes);

// Tells the system that the `size` bytes at `data` will be filled in one sweep (the
// document, the page body), so that it may back them with large pages: a document of
// many megabytes otherwise costs a page fault every few kilobytes.
void AdviseLargeBuffer(void* data, std::size_t size);

// Makes a new, empty, uniquely named file in the temporary folder whose name starts with
// `prefix`. On success stores its full path and returns true.
[[nodiscard]] bool CreateTemporaryFile(const std::string& prefix, std::string* path);

// Moves the finished file `from` onto `target`, replacing an existing target in one step.
// A read-only target, a missing folder or any other failure returns false and leaves the
// target as it was.
[[nodiscard]] bool ReplaceFile(const std::string& from, const std::string& target);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const std::string& path);

// Where the finished page goes: a file (text mode on Windows) or the standard output.
// Every failure of a write, flush or close is remembered and reported by Close.
class OutputStream {
 public:
  OutputStream() = default;
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  [[nodiscard]] bool OpenFile(const std::string& path);
  void OpenStandardOutput();
  // Returns false once any write has failed.
  bool Write(std::string_view bytes);
  // Flushes and closes (a file) or flushes (standard output). False when anything written
  // since the open failed to reach its destination.
  [[nodiscard]] bool Close();

 private:
  void* file_ = nullptr;  // the C stream
  bool ownsFile_ = false;
  bool failed_ = false;
};

// A line on the standard output (the stream the page goes to when no output file is
// named): the text, a line end, a flush. Messages and the page keep their order.
void PrintMessage(std::string_view line);
// The same on the standard error stream.
void PrintError(std::string_view line);
// Text without a line end on the standard output (the usage text is several lines).
void PrintText(std::string_view text);

}  // namespace tarvix::platform
