// The paths of a site run: how a name below the input folder becomes one below the output
// folder, and which names the walk can give, so that the state never names a file elsewhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// `folder` and `name` with a separator between them; either alone when the other is empty.
[[nodiscard]] std::string Join(const std::string& folder, const std::string& name);

// `path` without separators at its end, unless it is nothing else (the root).
[[nodiscard]] std::string WithoutTrailingSeparators(std::string path);

// True when `inner` is `outer` or lies below it; both absolute.
[[nodiscard]] bool Contains(const std::string& outer, const std::string& inner);

// The absolute path of `path` with the links of its existing folders resolved; the part
// that does not exist yet follows as written, and so does the last name unless
// `resolveLast` (a link named as an input is looked at through its name). Empty when the
// current folder is unknown.
[[nodiscard]] std::string Resolved(const std::string& path, bool resolveLast);

// True when `name` ends in the documents' extension: the walk makes a page of it.
[[nodiscard]] bool IsDocument(const std::string& name);

// The page `document` writes when its header asks for no other extension.
[[nodiscard]] std::string PageOf(const std::string& document);

// True when `path`, as the state names it, is a path the walk could give: names that are
// plain (IsPlainName) and none a dot-name (the walk leaves those out), separated by the
// system's separator. The state is input: nothing else is ever written or removed.
[[nodiscard]] bool IsWalkPath(std::string_view path);

// True when `target` is a page that `document` may have written: its own name with the
// page's extension or, with -ext, another extension in the same folder.
[[nodiscard]] bool TargetFits(const std::string& document, const std::string& target);

// The folder part of a path below the output folder ("" for a name at its top).
[[nodiscard]] std::string FolderPart(const std::string& relative);

// True when `relative` is `folder` or lies below it ("" holds everything).
[[nodiscard]] bool IsWithin(const std::string& folder, const std::string& relative);

// Adds the folders that hold `path` below the output folder, as views of `path`, each
// folder once where paths come in order (the walk's): `folders` is to be sorted and made
// unique afterwards.
void AddFoldersOf(const std::string& path, std::vector<std::string_view>* folders);

}  // namespace tarvix
