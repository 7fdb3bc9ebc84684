// Converting a document held in memory, for tests that check the HTML of constructs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/Parser_CL.h"

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
  Parser_CL parser;
  MemoryConversion conversion;
  conversion.document = std::string(markdown);
  conversion.imageLink = imageLink ? 1 : 0;
  return parser.ConvertInMemory(conversion);
}

// The whole page made with `templateText`.
inline std::string ToPage(std::string_view markdown, std::string_view templateText) {
  Parser_CL parser;
  MemoryConversion conversion;
  conversion.document = std::string(markdown);
  conversion.hasTemplate = true;
  conversion.templateText = std::string(templateText);
  return parser.ConvertInMemory(conversion);
}

}  // namespace tarvix
