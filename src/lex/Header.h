// The document header: page metadata carried as "key: value" lines in the document's
// HTML comments and in its include files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "text/BaseFolder.h"

namespace tarvix {

struct DocumentHeader {
  std::string title;
  std::string keywords;
  std::string description;
  std::string template_;
  std::string output_ext = ".html";
  std::string include;
  // The last output_ext entry that was no extension and so was ignored; the driver says so.
  std::string badOutputExt;
};

// An include file that gave the header nothing: the path looked for, and why it was not
// read (the system's words, what the path is instead of a file, or that `rule` keeps it
// out). The parser says it as a message.
struct MissingInclude {
  std::string path;
  std::string reason;
};

// The defaults the second pass starts from.
void ResetHeader(DocumentHeader& header);

// Sets the field named by `key` (ASCII case ignored) to the trimmed `value`. An "include"
// entry, unless `noInclude`, reads the named file's comments relative to `baseFolder`
// ("" is the current folder), or adds it to `missing` when given; `rule` says where an
// include entry leads (one that `rule` keeps out is missing). Empty keys or values change
// nothing, and an output_ext that is no extension only sets `badOutputExt`. The path of
// each include file looked for goes to `looked`, and its stamp as it was before it was
// read to `lookedStamps`.
void ApplyHeaderEntry(DocumentHeader& header, std::string_view key, std::string_view value,
                      std::string_view baseFolder, bool noInclude,
                      std::vector<MissingInclude>* missing = nullptr,
                      std::vector<std::string>* looked = nullptr,
                      EntryRule rule = EntryRule::Joined,
                      std::vector<platform::FileStamp>* lookedStamps = nullptr);

// Reads the comments of one include file into `header`; its own includes are ignored.
// False when the file is missing, unreadable or no regular file (`reason` says which).
bool ReadIncludeFile(DocumentHeader& header, const std::string& path,
                     std::string* reason = nullptr);

// Reads the comments of an include file's `bytes`, read already, into `header`.
void ReadIncludeBytes(DocumentHeader& header, std::string bytes);

}  // namespace tarvix
