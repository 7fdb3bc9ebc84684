// Files below a folder held open: made, replaced, looked at and removed one name at a
// time from that folder down, never through a link. What a site run writes into its
// output folder goes through here, so that no link met below it leads a write elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace tarvix::platform {

// Which file a name leads to, and the stamp it had: a file we made is ours only while the
// name still leads to that very file with that very content.
struct FileIdentity {
  std::uint64_t device = 0;  // the volume (its serial number on Windows)
  std::uint64_t inode = 0;   // the file on it (its index on Windows)
  FileStamp stamp;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// How an operation below the folder ended.
enum class BelowResult {
  kDone,
  kMissing,  // nothing there (or a folder on the way is missing)
  kLink,     // the name, or a folder on its way, is a link: not followed
  kChanged,  // something else than what was expected is there
  kFailed,   // the system refused; `reason` says why where asked
};

// What a name below the folder is, no link followed.
enum class BelowKind { kMissing, kFile, kFolder, kLink, kOther };

// The folder, held open from Open to destruction. Relative paths name entries below it,
// their names separated by '/' or the system's separator; each name must be a plain one
// (not empty, ".", ".."). The folder itself may have been named through a link: that
// link is the user's.
class BelowFolder {
 public:
  BelowFolder() = default;
  ~BelowFolder();
  BelowFolder(const BelowFolder&) = delete;
  BelowFolder& operator=(const BelowFolder&) = delete;

  [[nodiscard]] bool Open(const std::string& folder, std::string* reason = nullptr);
  // The folder as it was named to Open.
  [[nodiscard]] const std::string& Path() const { return path_; }

  // What `relative` is; for a regular file, its identity.
  [[nodiscard]] BelowKind Look(std::string_view relative, FileIdentity* identity = nullptr) const;
  // Whether `relative` leads to the very file `identity` names, as it was then (its name
  // itself no link), in one look where the system allows: for a run that leaves such a
  // file alone. False tells nothing: Look then says what is there.
  [[nodiscard]] bool IsStill(std::string_view relative, const FileIdentity& identity) const;
  // Makes the folder `relative` and those missing above it.
  [[nodiscard]] BelowResult MakeFolders(std::string_view relative,
                                        std::string* reason = nullptr) const;
  // Removes the regular file `relative` when it is the file `expected` names, so that a
  // file put there meanwhile is never the one removed: the file is first moved aside
  // under a temporary name in its folder, looked at there, then deleted or moved back.
  // kChanged when another file is there (it stays; `keptAs`, when it could not go back
  // to its own name, gets the name it now has).
  [[nodiscard]] BelowResult RemoveIfSame(std::string_view relative, const FileIdentity& expected,
                                         std::string* keptAs = nullptr) const;
  // Removes the folder `relative` when it is empty.
  [[nodiscard]] BelowResult RemoveEmptyFolder(std::string_view relative) const;
  // Deletes the temporary files (TemporaryNameBelow's form, regular files only) an
  // interrupted run left in the folder `relative`; returns how many.
  std::size_t RemoveTemporaries(std::string_view relative) const;
  // Reads the regular file `relative` of at most `maxBytes`.
  [[nodiscard]] ReadResult Read(std::string_view relative, std::uint64_t maxBytes,
                                std::string* bytes) const;

 private:
  friend class NewFileBelow;
  friend class AppendFileBelow;
  // The folder holding the last name of `relative`, opened without links, and that name.
  // kDone, kMissing, kLink or kFailed.
  [[nodiscard]] BelowResult OpenParent(std::string_view relative, bool make, int* folder,
                                       std::string* name, std::string* reason) const;

  int fd_ = -1;             // POSIX: the folder's descriptor
  void* handle_ = nullptr;  // Windows: the folder's handle
  std::string path_;
};

// A new file below a BelowFolder: made under a temporary name in its folder, written, then
// given its name in one step. Until then, a terminating signal removes it, and so does
// destruction.
class NewFileBelow {
 public:
  NewFileBelow() = default;
  ~NewFileBelow();
  NewFileBelow(const NewFileBelow&) = delete;
  NewFileBelow& operator=(const NewFileBelow&) = delete;

  // A new empty file in the folder that will hold `relative` (the folders on the way must
  // exist). kLink when a folder on the way is a link.
  [[nodiscard]] BelowResult Create(const BelowFolder& below, std::string_view relative,
                                   std::string* reason = nullptr);
  // Appends `bytes`; false once a write failed.
  bool Write(std::string_view bytes);
  // Appends `bytes` as a page goes into its file: in text mode on Windows (each line feed
  // becomes CR LF), as they are elsewhere.
  bool WriteText(std::string_view bytes);
  // Copies what the regular file `from` holds, and later gives the file its time of
  // modification. False when it could not be read or written.
  [[nodiscard]] bool CopyFrom(const std::string& from, std::string* reason = nullptr);
  // Closes the file (with `durable`, on the disk first) and gives `identity` what it is;
  // the file keeps its temporary name. False when anything written failed.
  [[nodiscard]] bool Finish(bool durable, FileIdentity* identity, std::string* reason = nullptr);
  // Gives the finished file its name, replacing a regular file there in one step. kLink
  // when the name is a link now (it stays), kChanged when it is no regular file. With
  // `anyFile`, a name that is ours alone (the run's state), whatever is there but a folder
  // is replaced: the name itself, never what a link there names.
  [[nodiscard]] BelowResult Commit(bool durable, std::string* reason = nullptr,
                                   bool anyFile = false);
  // The file's path as the messages show it.
  [[nodiscard]] std::string ShownPath() const;

 private:
  void Discard();

  const BelowFolder* below_ = nullptr;
  int folder_ = -1;       // POSIX: the folder's descriptor, held until Commit
  void* file_ = nullptr;  // Windows: the file's handle
  int fd_ = -1;           // POSIX: the file's descriptor until Finish
  std::string relativeFolder_;
  std::string name_;            // the name it gets
  std::string temporary_;       // the name it has until then
  std::int64_t copyTime_ = -1;  // the time to give it, for a copy
  bool failed_ = false;
  std::uint32_t mode_ = 0;
  int slot_ = -1;
};

// A file below a BelowFolder that lines are appended to, each line in one write: what a run
// notes before a step that it might not live to record elsewhere.
class AppendFileBelow {
 public:
  AppendFileBelow() = default;
  ~AppendFileBelow();
  AppendFileBelow(const AppendFileBelow&) = delete;
  AppendFileBelow& operator=(const AppendFileBelow&) = delete;

  // Opens `relative` for appending, made when missing; kLink when it or a folder on its
  // way is a link, kChanged when it is no regular file.
  [[nodiscard]] BelowResult Open(const BelowFolder& below, std::string_view relative,
                                 std::string* reason = nullptr);
  [[nodiscard]] bool IsOpen() const { return fd_ >= 0 || file_ != nullptr; }
  // Appends `bytes` in one write; false when it failed.
  bool Append(std::string_view bytes);
  // Closes the file; `identity`, when given, gets what it is then.
  void Close(FileIdentity* identity = nullptr);

 private:
  int fd_ = -1;           // POSIX
  void* file_ = nullptr;  // Windows
};

// A new name of that form, ten random letters or digits from the system's random source.
[[nodiscard]] std::string NewTemporaryNameBelow();

// True when `name` is of the form temporary files below a folder get: ".tarvix-", ten
// letters or digits, ".tmp" (no person picks such a name by accident).
[[nodiscard]] bool IsTemporaryNameBelow(std::string_view name);

// True when `name` is a plain name of one folder entry: not empty, not "." or "..", no
// separator of either system, no NUL or other control byte (and on Windows no ':', which
// names a drive or a stream there).
[[nodiscard]] bool IsPlainName(std::string_view name);

}  // namespace tarvix::platform
