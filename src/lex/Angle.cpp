// The addresses an angle bracket may hold: what makes its inside a web or an e-mail
// address, and the e-mail address as the page writes it.
#include "lex/Angle.h"

#include <string>
#include <string_view>

namespace tarvix {
namespace {

bool IsLineEnd(char c) {
  return c == '\n' || c == '\r';
}

// The characters a web address may go on with after "://".
bool IsWebAddressChar(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
    return true;
  return std::string_view("_/:%#$&?()~.=+-").find(c) != std::string_view::npos;
}

}  // namespace

// "http" or "https", "://" and at least one address character, anywhere in the text.
// Matched by hand: a general pattern matcher recurses with the length of the text.
bool IsWebAddress(std::string_view text) {
  std::size_t at = 0;
  while ((at = text.find("http", at)) != std::string_view::npos) {
    std::size_t p = at + 4;
    if (p < text.size() && text[p] == 's')
      ++p;
    if (text.substr(p, 3) == "://" && p + 3 < text.size() && IsWebAddressChar(text[p + 3])) {
      return true;
    }
    ++at;
  }
  return false;
}

// Some "@" with a character that is not a line end on each side of it.
bool IsMailAddress(std::string_view text) {
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == '@' && !IsLineEnd(text[i - 1]) && !IsLineEnd(text[i + 1]))
      return true;
  }
  return false;
}

std::string EncodeEmail(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(text.size() * 6);
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    s.append("&#x");
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
    s.push_back(';');
  }
  return s;
}

}  // namespace tarvix
