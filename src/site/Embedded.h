// The files the program carries in itself, made part of it at build time
// (cmake/Embed.cmake): the starter site and what the highlighter folder is made from.
#pragma once

#include <span>
#include <string_view>

namespace tarvix {

struct EmbeddedFile {
  std::string_view name;  // "starter/..." or "highlighter/...", with '/' between names
  std::string_view bytes;
};

// Every embedded file, in the order the build named them.
[[nodiscard]] std::span<const EmbeddedFile> EmbeddedFiles();

}  // namespace tarvix
