// Text and path helpers shared by the whole converter. Source text, HTML, paths and
// options are all UTF-8 byte strings; CleanUtf8 stands in for every place where text
// becomes characters, so invalid bytes come out the same way wherever they are written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvix {

// The blanks that trimming removes.
inline constexpr std::string_view kTrimSet = " \t\r\n";

// Appends `s` to `out` as well-formed UTF-8: every maximal invalid subpart of an ill-formed
// sequence becomes one U+FFFD, and so does a NUL byte (it never cuts the text short).
void AppendCleanUtf8(std::string& out, std::string_view s);
[[nodiscard]] std::string CleanUtf8(std::string_view s);

// Decimal text of a number ("%d").
[[nodiscard]] std::string IntToText(std::int32_t n);

// `text` without leading and trailing bytes that are in `set`.
[[nodiscard]] std::string_view Trim(std::string_view text, std::string_view set = kTrimSet);

// Replaces every occurrence of `from`, searching on just after each inserted `to`.
[[nodiscard]] std::string ReplaceAll(std::string_view text, std::string_view from,
                                     std::string_view to);

// ASCII-only letter case: the locale never touches input bytes.
[[nodiscard]] constexpr char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
[[nodiscard]] std::string AsciiLowerCase(std::string_view s);
[[nodiscard]] bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Path helpers; they split at the platform's separator only.
// The text before the last separator; empty when there is none.
[[nodiscard]] std::string FolderOf(std::string_view path);
// From the last dot to the end when no separator follows that dot, else empty.
[[nodiscard]] std::string ExtensionOf(std::string_view path, bool lower);
// The path without the extension that ExtensionOf finds.
[[nodiscard]] std::string WithoutExtension(std::string_view path);
// `text` without its last character when that is `c`.
[[nodiscard]] std::string StripTrailing(std::string_view text, char c);
// Absolute path of base + separator + relative ("" when it cannot be made).
[[nodiscard]] std::string FullPathOf(std::string_view base, std::string_view relative);
// The path to `toPath` relative to the folder `fromFolder`, both absolute: "./" when they
// are the same folder, "../" once per component of the folder beyond their common part,
// then each remaining component of `toPath` followed by a separator (after the last one
// only when `toPath` ends in a separator). Uses `separator` to split and to join.
[[nodiscard]] std::string RelativePath(std::string_view fromFolder, std::string_view toPath,
                                       char separator);
// Every '/' becomes the platform's separator.
[[nodiscard]] std::string ToNativeSeparators(std::string_view path);
// Every platform separator becomes '/'.
[[nodiscard]] std::string ToForwardSlashes(std::string_view path);

}  // namespace tarvix
