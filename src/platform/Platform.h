// Operating-system services: the command line, paths, files, the temporary output file
// and console messages. Everything the converter asks of the system goes through here;
// Platform_posix.cpp implements it on POSIX, Platform_win32.cpp on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform {

// The separator between a folder and a name in the paths of this system.
extern const char kPathSeparator;
// How many units of FileStamp::time make a second.
extern const std::int64_t kStampUnitsPerSecond;

// True when an argument beginning with `c` is an option ("-name"; on Windows also "/name").
[[nodiscard]] bool IsOptionMarker(char c);

// The arguments of the process as UTF-8 strings, without the program name. On POSIX they
// come from argv; the Windows build reads the process command line itself.
[[nodiscard]] std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Readies the process: sets the locale for messages (the converter itself never consults
// it) and makes a reader of the standard output that goes away a failed write, which the
// driver reports, rather than an end of the program without a word.
void PrepareProcess();

// Calls that can fail take an optional `reason`: on failure it receives the system's own
// words for what went wrong ("No such file or directory"), for the line that follows the
// message.

// What a path names once links are followed.
enum class FileKind { Regular, Folder, Pipe, Device, Other };

struct FileStatus {
  FileKind kind = FileKind::Other;
  std::uint64_t size = 0;  // in bytes, for a regular file
  // Together the identity of the file: two names with the same pair are one file.
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  // The last change of the file or of its status, which no one can set back, in the unit of
  // FileStamp; 0 where the system gives none that can be relied on (Windows). A folder's
  // changes with every entry added, removed or renamed.
  std::int64_t changeTime = 0;
};

// Finds out what `path` names, following links. False when nothing can be found there.
[[nodiscard]] bool StatusOf(const std::string& path, FileStatus* status,
                            std::string* reason = nullptr);

// The words for a file of `kind` where a regular file was needed ("Is a directory"), the
// same on every system but for the kind that is none of the others: OtherKindReason, a
// socket's words on POSIX.
[[nodiscard]] std::string NotRegularReason(FileKind kind);
[[nodiscard]] std::string OtherKindReason();

// Why `path` cannot be opened for reading; empty when it can. For a run whose reading
// failed without saying why.
[[nodiscard]] std::string ReadFailureReason(const std::string& path);

// The folder temporary files are made in ($TMPDIR, else /tmp; the user's Temp on Windows).
[[nodiscard]] std::string TemporaryFolder();

// Makes terminating signals (interrupt, termination, hangup; Ctrl+C on Windows) delete
// every file registered below before the process ends the way the signal ends it. The
// program calls it once at its start; a caller converting in memory never does.
void InstallSignalCleanup();

// Registers a file that must not outlive the process if a signal ends it: a temporary
// file or a partial copy. Returns the slot to pass to Unregister, or -1 when the path
// cannot be held (the table is full or the path too long); the file then stays behind.
// Safe from any thread.
[[nodiscard]] int RegisterCleanupFile(const std::string& path);
// After the file was deleted or renamed into place. -1 is ignored.
void UnregisterCleanupFile(int slot);

// While one lives, the terminating signals wait on this thread and arrive when it goes: a
// file created and registered under it is never left behind by a signal that falls
// between its creation and its registration. (Nothing on Windows, where the handler runs
// on a thread of its own.)
// Once a terminating signal's handler has begun, Stopping() says so: the handler waits
// for the threads inside a HeldSignals to leave it and then deletes what is registered,
// so a file created after that would be left behind, and none may be created.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

  [[nodiscard]] bool Stopping() const;

 private:
  alignas(8) unsigned char saved_[128];  // the thread's signal mask before
};

// True when `path` names an existing file or folder.
[[nodiscard]] bool PathExists(const std::string& path);

// The absolute, normalised form of `path` (relative names are taken from the current
// folder; a trailing separator is kept). Empty when it cannot be made.
[[nodiscard]] std::string FullPath(const std::string& path);

// Reads a whole file as bytes. False when it cannot be opened or read (a folder, no
// permission); `bytes` is then empty. `textMode` asks for the platform's text-mode read
// (CR LF becomes LF on Windows; the same bytes on POSIX).
[[nodiscard]] bool ReadWholeFile(const std::string& path, bool textMode, std::string* bytes,
                                 std::string* reason = nullptr);

// Reads the standard input to its end as bytes (binary mode on Windows). False when a
// read fails; `bytes` then holds what came before.
[[nodiscard]] bool ReadStandardInput(std::string* bytes);

// Tells the system that the `size` bytes at `data` will be filled in one sweep (the
// document, the page body), so that it may back them with large pages: a document of
// many megabytes otherwise costs a page fault every few kilobytes.
void AdviseLargeBuffer(void* data, std::size_t size);

// True where PrefaultForWriting can work.
extern const bool kPrefaults;
// Makes the memory of the `size` bytes at `data` ready to be written, without changing
// what they hold: the system's work of giving a process fresh memory is done now, on the
// calling thread, rather than at the first write into it. Only whole blocks of 64 KiB
// inside the range are taken. False when the system could not (or cannot) do it; the
// memory then stays as it was, to be made ready when it is first written.
bool PrefaultForWriting(void* data, std::size_t size);

// A document file mapped into memory read-only, instead of read into a buffer: its pages
// come from the file as they are first touched, and ReleaseMapped gives back those the
// conversion is done with, so a document costs only the window being read. While mapped,
// the file may still change under us: MappingIntact tells, and a file cut short while we
// read it yields zero bytes past its new end rather than a fatal signal. Empty (no data)
// until MapFile succeeds; unmapped when it goes. One thread uses a mapping at a time.
class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  [[nodiscard]] const char* data() const { return static_cast<const char*>(address_); }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  friend bool MapFile(const std::string& path, MappedFile* file);
  friend void ReleaseMapped(MappedFile& file, std::size_t upTo);
  friend bool MappingIntact(const MappedFile& file);
  friend bool ReadMappedFile(const MappedFile& file, std::string* bytes, std::string* reason);

  void* address_ = nullptr;
  std::size_t size_ = 0;
  int descriptor_ = -1;  // kept open to see whether the file changed, and to read it anew
  int slot_ = -1;        // the mapping's entry in the table the bus-error guard looks in
  // The file as it was mapped: a change to its bytes changes one of these.
  std::uint64_t fileSize_ = 0;
  std::int64_t modified_ = 0;  // nanoseconds
  std::int64_t changed_ = 0;   // status change time, nanoseconds
};

// Maps the regular, non-empty file at `path` into `file` (empty beforehand). False when
// it is not mapped: it is no regular file (a pipe, whose opening must be left to the
// reader), it is empty, the system has no mapping for it (Windows: the program reads
// there) or any step fails; the caller then reads the file, which reports why it cannot.
[[nodiscard]] bool MapFile(const std::string& path, MappedFile* file);

// Drops the whole pages before byte `upTo` from memory. Nothing is lost: reading them
// again brings them back from the file.
void ReleaseMapped(MappedFile& file, std::size_t upTo);

// False when the bytes read through `file` may no longer all be the file's bytes at the
// time it was mapped: its size or times changed since, or it was cut short under a page
// that was touched.
[[nodiscard]] bool MappingIntact(const MappedFile& file);

// Reads what the mapped file holds now, from its start to its end, through the file the
// mapping was made from (whatever its name names by now).
[[nodiscard]] bool ReadMappedFile(const MappedFile& file, std::string* bytes,
                                  std::string* reason = nullptr);

// Makes a new, empty, uniquely named file in the temporary folder whose name starts with
// `prefix`, or, when `folder` is given, a hidden one there. On success stores its full path
// and returns true.
[[nodiscard]] bool CreateTemporaryFile(const std::string& prefix, std::string* path,
                                       std::string* reason = nullptr,
                                       const std::string& folder = std::string());

// Moves the finished file `from` onto `target`, replacing an existing target in one step.
// A target that is a link keeps the link: the file it names is replaced (or created, for a
// link that names nothing yet). A replaced file keeps its permissions and, where the
// process may change them, its owner and group. A target that is no regular file (a
// device, a pipe) gets the page written into it. A read-only target, a missing folder or
// any other failure returns false and leaves the target as it was.
[[nodiscard]] bool ReplaceFile(const std::string& from, const std::string& target,
                               std::string* reason = nullptr);

// Deletes a file; false when it could not be deleted.
bool RemoveFile(const std::string& path);

// Deletes `folder` when it is empty; false when it holds anything or could not be deleted.
bool RemoveEmptyFolder(const std::string& folder);

// What a folder entry is. A symbolic link has the kind of what it names (Other when that
// does not exist).
enum class EntryKind { File, Folder, Other };
struct FolderEntry {
  std::string name;
  EntryKind kind = EntryKind::Other;
  bool link = false;
};

// The entries of `folder` but "." and "..", in no particular order. False when the folder
// cannot be read.
[[nodiscard]] bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries);

// What tells a changed file from an unchanged one: its size and modification time.
struct FileStamp {
  bool exists = false;
  std::int64_t time = 0;  // in the system's own unit (nanoseconds; 100 ns on Windows)
  std::uint64_t size = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};
// The stamp of what `path` names, links followed; `exists` false when nothing is there.
[[nodiscard]] FileStamp StampOf(const std::string& path);

// A folder held open for looks at what lies below it, links followed as StatusOf and
// StampOf follow them. A site run looks at thousands of its input's files and folders on
// each run; from the open folder the system walks only the names below it, not the
// folder's own path again each time. Where the folder cannot be held, or the system has no
// such looks, each look goes by the whole path, with the same answers.
class FolderLooks {
 public:
  FolderLooks() = default;
  ~FolderLooks();
  FolderLooks(const FolderLooks&) = delete;
  FolderLooks& operator=(const FolderLooks&) = delete;

  // Holds `folder` (as StatusOf would name it). Looks work without it, by path.
  void Open(const std::string& folder);
  // What `relative` (below the folder, names separated by the system's separator; empty
  // for the folder itself) names, as StatusOf(folder + separator + relative) tells it.
  [[nodiscard]] bool StatusOf(std::string_view relative, FileStatus* status) const;
  // The stamp of `relative`, as StampOf(folder + separator + relative) tells it.
  [[nodiscard]] FileStamp StampOf(std::string_view relative) const;

 private:
  [[nodiscard]] std::string PathOf(std::string_view relative) const;

  int fd_ = -1;  // POSIX: the folder's descriptor
  std::string path_;
};

// True when `path` names a folder (links followed).
[[nodiscard]] bool IsFolder(const std::string& path);

// Makes `folder` and every missing folder above it. True when it is a folder afterwards.
[[nodiscard]] bool MakeFolders(const std::string& folder);

// The absolute path of `path` with every link resolved; empty when it does not exist.
[[nodiscard]] std::string RealPath(const std::string& path);

// The time now, by the clock the file system stamps changes with, in the unit of FileStamp.
[[nodiscard]] std::int64_t FileClockNow();

// How ReadRegularFile ended.
enum class ReadResult { kRead, kMissing, kNotRegular, kTooLarge, kFailed };

// Reads the file at `path` when it is a regular file of at most `maxBytes`: never waits on
// a pipe or reads a device without end. `bytes` is empty unless kRead.
[[nodiscard]] ReadResult ReadRegularFile(const std::string& path, std::uint64_t maxBytes,
                                         std::string* bytes);

// True when the standard error stream is a terminal (a person watches it).
[[nodiscard]] bool StandardErrorIsTerminal();

// Where the finished page goes: a file (text mode on Windows) or the standard output.
// Every failure of a write, flush or close is remembered and reported by Close.
class OutputStream {
 public:
  OutputStream() = default;
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  // A new file (or one emptied) at `path`.
  [[nodiscard]] bool OpenFile(const std::string& path, std::string* reason = nullptr);
  // An existing node that is no regular file (a device, a pipe): written as it is, never
  // created or emptied.
  [[nodiscard]] bool OpenNode(const std::string& path, std::string* reason = nullptr);
  void OpenStandardOutput();
  // Returns false once any write has failed.
  bool Write(std::string_view bytes);
  // Flushes and closes (a file) or flushes (standard output). False when anything written
  // since the open failed to reach its destination.
  [[nodiscard]] bool Close();
  // The system's words for the first failure; empty when none said why.
  [[nodiscard]] const std::string& FailureReason() const { return reason_; }

 private:
  // Takes `file`, opened for the page, as the stream written to and closed.
  void Hold(void* file);
  // Opens `path` with the system's open `flags` (POSIX) and holds the stream over it.
  [[nodiscard]] bool OpenWith(const std::string& path, int flags, std::string* reason);
  void Fail();

  void* file_ = nullptr;  // the C stream
  bool ownsFile_ = false;
  bool failed_ = false;
  std::string reason_;
};

// A line on the standard output (the stream the page goes to when no output file is
// named): the text, a line end, a flush. Messages and the page keep their order.
void PrintMessage(std::string_view line);
// The same on the standard error stream.
void PrintError(std::string_view line);
// Text without a line end on the standard output (the usage text is several lines).
void PrintText(std::string_view text);
// Text without a line end on the standard error stream (a progress line redrawn with "\r").
void PrintErrorText(std::string_view text);

// ---- Files read below a folder that a link swapped in meanwhile must not leave ----

// How ReadFileBelow ended.
enum class BelowRead { kRead, kOutside, kNotRegular, kFailed };

// Reads the file `relative` names below `folder` ("" is the current folder), opening it
// once and reading what was opened: a link on the way may lead elsewhere below the folder,
// never out of it, so a name that is checked and then swapped for a link cannot hand us a
// file outside. `relative` has the system's separators and is not absolute. kOutside when
// the way leaves the folder; kNotRegular (with `kind`) for a folder, device or pipe, which
// is not read; kFailed with the system's words in `reason` (a missing file, no permission).
// `textMode` as ReadWholeFile takes it.
[[nodiscard]] BelowRead ReadFileBelow(const std::string& folder, const std::string& relative,
                                      bool textMode, std::string* bytes, FileKind* kind,
                                      std::string* reason);

// --- A reader that closed the page's pipe -----------------------------------------------

// True when `reason`, a failed write's words, says the reading end of a pipe was closed.
[[nodiscard]] bool IsClosedPipeReason(std::string_view reason);
// Ends the process as a filter ends whose reader went away: by SIGPIPE on POSIX systems
// (status 141 in a shell, as cat's), with status 1 on Windows, which has no such signal.
[[noreturn]] void EndAsClosedPipe();

}  // namespace tarvix::platform
