// The contexts the inline dispatcher runs in.
#pragma once

#include <cstdint>

namespace tarvix {

// The context of an inline run: it decides which tokens end the run.
enum class InlineMode : std::int32_t {
  UnderscoreEmphasis = 1,
  StarEmphasis = 2,
  Strong = 5,
  Strike = 6,
  CodeSpan = 7,
  Paragraph = 8,
  LinkText = 9,
  ImageText = 10,
  Heading = 11,
  TableCell = 13,
};

}  // namespace tarvix
