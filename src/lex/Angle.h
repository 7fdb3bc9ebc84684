// The addresses an angle bracket may hold, as the angle renderer reads and writes them.
#pragma once

#include <string>
#include <string_view>

namespace tarvix {

// `text` with each byte written as a hexadecimal character reference, so that the address
// is no plain text for harvesters.
[[nodiscard]] std::string EncodeEmail(std::string_view text);
[[nodiscard]] bool IsWebAddress(std::string_view text);
[[nodiscard]] bool IsMailAddress(std::string_view text);

}  // namespace tarvix
