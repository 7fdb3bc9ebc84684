// The brushes of the page's syntax highlighter: which brush a fenced block's name denotes,
// which brushes the document used, and the script tags that load them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

struct Brush {
  std::string displayName;
  std::string scriptFile;
  std::vector<std::string> aliases;  // lower case, trimmed
  std::int32_t used = 0;
};

// HighLight_CL holds the fixed brush table in table order. Only the used flags change,
// from 0 to 1, while fenced blocks are rendered; they are never cleared.
class HighLight_CL {
 public:
  HighLight_CL();
  virtual ~HighLight_CL() = default;

  // The first brush, in table order, one of whose aliases is `name` with its ASCII letters
  // lowered (the name is not trimmed here). Null when none.
  [[nodiscard]] Brush* Find(std::string_view name);
  // The tags for the page: the core script, one line per used brush in table order and
  // the call that starts the highlighter; empty when no brush was used.
  [[nodiscard]] std::string ScriptTags(std::string_view folder) const;

  [[nodiscard]] const std::vector<Brush>& brushes() const { return brushes_; }

 private:
  std::vector<Brush> brushes_;
  // Every alias beside the number of its brush, in table order: a look up walks one short
  // array instead of each brush's own list.
  struct AliasRow {
    std::string alias;
    std::size_t brush = 0;
  };
  std::vector<AliasRow> aliases_;
};

}  // namespace tarvix
