// The names of files below a folder held open, alike on every system: what a temporary
// file there is called, and which names a walk and a state may hold.
#include <random>

#include "platform/Below.h"

namespace tarvix::platform {
namespace {

constexpr std::string_view kTemporaryStart = ".tarvix-";
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr std::size_t kTemporaryLetters = 10;
constexpr std::string_view kLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

}  // namespace

std::string NewTemporaryNameBelow() {
  // The system's own random source, asked anew each time: no state is kept between calls.
  std::random_device device;
  std::string name(kTemporaryStart);
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < kTemporaryLetters; ++i) {
    if (i % 5 == 0)
      bits = (static_cast<std::uint64_t>(device()) << 32) | device();
    name.push_back(kLetters[bits % kLetters.size()]);
    bits /= kLetters.size();
  }
  name.append(kTemporaryEnd);
  return name;
}

bool IsTemporaryNameBelow(std::string_view name) {
  if (name.size() != kTemporaryStart.size() + kTemporaryLetters + kTemporaryEnd.size() ||
      name.substr(0, kTemporaryStart.size()) != kTemporaryStart ||
      name.substr(name.size() - kTemporaryEnd.size()) != kTemporaryEnd)
    return false;
  for (const char c : name.substr(kTemporaryStart.size(), kTemporaryLetters)) {
    if (!IsLetterOrDigit(c))
      return false;
  }
  return true;
}

bool IsPlainName(std::string_view name) {
  if (name.empty() || name == "." || name == "..")
    return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' ||
        (kPathSeparator == '\\' && c == ':'))
      return false;
  }
  return true;
}

}  // namespace tarvix::platform
