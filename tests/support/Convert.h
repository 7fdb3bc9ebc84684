// Converting a document held in memory, for tests that check the HTML of constructs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tarvix/tarvix.h"

namespace tarvix {

// `piece` written `times` times in a row (generated documents).
inline std::string Repeat(std::string_view piece, std::size_t times) {
  std::string s;
  s.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i)
    s.append(piece);
  return s;
}

// The body HTML of `markdown` (no template), after one or two passes as the driver runs.
inline std::string ToHtml(std::string_view markdown, bool imageLink = false) {
  PageOptions options;
  options.imageLink = imageLink;
  return ConvertDocument(markdown, options).page;
}

// The whole page made with `templateText`.
inline std::string ToPage(std::string_view markdown, std::string_view templateText) {
  PageOptions options;
  options.templateText = std::string(templateText);
  return ConvertDocument(markdown, options).page;
}

}  // namespace tarvix
