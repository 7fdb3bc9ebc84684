#include "text/Text.h"

#include "text/ByteScan.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "platform/Platform.h"

namespace tarvix {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// True when all eight bytes at `p` are ASCII and none is NUL, so they can be copied as they
// are. Checking a word at a time keeps the common all-ASCII text cheap.
bool IsPlainAsciiWord(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
  const bool hasHighByte = (word & kHighBits) != 0;
  const bool hasZeroByte = ((word - kLowBits) & ~word & kHighBits) != 0;
  return !hasHighByte && !hasZeroByte;
}

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// The length of the well-formed sequence that starts with the non-ASCII byte at p[0], or 0
// when it is ill-formed; then `*bad` is the length of its maximal subpart (at least 1): the
// lead byte and the continuation bytes that could still have completed it.
std::size_t SequenceLength(const unsigned char* p, std::size_t available, std::size_t* bad) {
  const unsigned char lead = p[0];
  std::size_t length = 0;
  // The second byte has a narrower range after a few lead bytes: this is what rules out
  // overlong forms, surrogates and values above U+10FFFF.
  unsigned char secondLow = 0x80;
  unsigned char secondHigh = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) {
      secondLow = 0xA0;
    } else if (lead == 0xED) {
      secondHigh = 0x9F;
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) {
      secondLow = 0x90;
    } else if (lead == 0xF4) {
      secondHigh = 0x8F;
    }
  } else {
    *bad = 1;
    return 0;
  }
  std::size_t i = 1;
  if (i < available && p[i] >= secondLow && p[i] <= secondHigh) {
    ++i;
    while (i < length && i < available && IsContinuation(p[i])) {
      ++i;
    }
  }
  if (i == length) {
    return length;
  }
  *bad = i;
  return 0;
}

std::vector<std::string_view> PathComponents(std::string_view path, char separator) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(separator, start);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    if (end > start) {
      components.push_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  return components;
}

// The position of the dot that starts the extension of the last name in `path`, or npos.
std::size_t ExtensionDot(std::string_view path) {
  const char stops[] = {platform::kPathSeparator, '.'};
  const std::size_t pos = path.find_last_of(std::string_view(stops, sizeof stops));
  if (pos != std::string_view::npos && path[pos] == '.') {
    return pos;
  }
  return std::string_view::npos;
}

std::string ReplaceChar(std::string_view text, char from, char to) {
  std::string result(text);
  if (from != to) {
    for (char& c : result) {
      if (c == from) {
        c = to;
      }
    }
  }
  return result;
}

}  // namespace

void AppendCleanUtf8(std::string& out, std::string_view s) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t size = s.size();
  // Where the text is damaged, what it becomes gathers in a small buffer that is appended
  // in one call: text where most bytes are ill-formed would otherwise grow the page a few
  // bytes at a time, and each byte's kind would be a branch the processor cannot guess.
  char gathered[512];
  std::size_t used = 0;
  const auto flush = [&] {
    out.append(gathered, used);
    used = 0;
  };
  const auto replace = [&] {
    std::memcpy(gathered + used, kReplacementCharacter.data(), kReplacementCharacter.size());
    used += kReplacementCharacter.size();
  };
  // Bytes from runStart up to i are known good and are appended in one piece.
  std::size_t runStart = 0;
  std::size_t i = 0;
  while (i < size) {
    if (kBlockScan && size - i >= 16) {
      const std::size_t taken = WellFormedUtf8Prefix16(s.data() + i);
      if (taken != 0) {
        i += taken;
        continue;
      }
    } else if (size - i >= 8 && IsPlainAsciiWord(bytes + i)) {
      i += 8;
      continue;
    }
    const unsigned char c = bytes[i];
    if (c != 0 && c < 0x80) {
      ++i;
      continue;
    }
    // Most letters of Japanese and Chinese text are three bytes whose lead byte allows any
    // continuation byte second: they pass here without the full test.
    if (c >= 0xE1 && c <= 0xEF && c != 0xED && size - i >= 3 && IsContinuation(bytes[i + 1]) &&
        IsContinuation(bytes[i + 2])) {
      i += 3;
      continue;
    }
    std::size_t bad = 1;
    if (c != 0) {
      const std::size_t length = SequenceLength(bytes + i, size - i, &bad);
      if (length != 0) {
        i += length;
        continue;
      }
    }
    // An ill-formed sequence at i: the good run before it goes first.
    if (i - runStart <= sizeof gathered - 8) {
      std::memcpy(gathered, s.data() + runStart, i - runStart);
      used = i - runStart;
    } else {
      out.append(s.data() + runStart, i - runStart);
    }
    replace();
    i += bad;
    // Byte by byte into the buffer until a whole word of plain ASCII comes back. A byte
    // that is plain or can never start a sequence is written without a branch on its kind:
    // itself, or the first byte of the replacement character and the other two after it.
    while (i < size && !(size - i >= 8 && IsPlainAsciiWord(bytes + i))) {
      if (used > sizeof gathered - 8)
        flush();
      const unsigned char b = bytes[i];
      if (b >= 0xC2 && b <= 0xF4) {
        const std::size_t length = SequenceLength(bytes + i, size - i, &bad);
        if (length != 0) {
          std::memcpy(gathered + used, bytes + i, length);
          used += length;
          i += length;
        } else {
          replace();
          i += bad;
        }
        continue;
      }
      const bool replaced = b == 0 || b >= 0x80;
      gathered[used] = replaced ? kReplacementCharacter[0] : static_cast<char>(b);
      gathered[used + 1] = kReplacementCharacter[1];
      gathered[used + 2] = kReplacementCharacter[2];
      used += replaced ? kReplacementCharacter.size() : 1;
      ++i;
    }
    flush();
    runStart = i;
  }
  out.append(s.data() + runStart, size - runStart);
}

std::string CleanUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  AppendCleanUtf8(out, s);
  return out;
}

std::string IntToText(std::int32_t n) {
  char buffer[16];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
  return std::string(buffer, result.ptr);
}

std::string_view Trim(std::string_view text, std::string_view set) {
  const std::size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = text.find_last_not_of(set);
  return text.substr(first, last - first + 1);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) {
    return std::string(text);
  }
  std::string result;
  result.reserve(text.size());
  std::size_t start = 0;
  std::size_t pos;
  while ((pos = text.find(from, start)) != std::string_view::npos) {
    result.append(text.substr(start, pos - start));
    result.append(to);
    start = pos + from.size();
  }
  result.append(text.substr(start));
  return result;
}

std::string AsciiLowerCase(std::string_view s) {
  std::string result(s);
  for (char& c : result) {
    c = AsciiLower(c);
  }
  return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string FolderOf(std::string_view path) {
  const std::size_t pos = path.rfind(platform::kPathSeparator);
  if (pos == std::string_view::npos) {
    return {};
  }
  return std::string(path.substr(0, pos));
}

std::string ExtensionOf(std::string_view path, bool lower) {
  const std::size_t dot = ExtensionDot(path);
  if (dot == std::string_view::npos) {
    return {};
  }
  std::string_view extension = path.substr(dot);
  return lower ? AsciiLowerCase(extension) : std::string(extension);
}

std::string WithoutExtension(std::string_view path) {
  return std::string(path.substr(0, ExtensionDot(path)));
}

std::string StripTrailing(std::string_view text, char c) {
  if (!text.empty() && text.back() == c) {
    text.remove_suffix(1);
  }
  return std::string(text);
}

std::string FullPathOf(std::string_view base, std::string_view relative) {
  std::string joined;
  joined.reserve(base.size() + 1 + relative.size());
  joined.append(base);
  joined.push_back(platform::kPathSeparator);
  joined.append(relative);
  return platform::FullPath(joined);
}

std::string RelativePath(std::string_view fromFolder, std::string_view toPath, char separator) {
  const std::vector<std::string_view> from = PathComponents(fromFolder, separator);
  const std::vector<std::string_view> to = PathComponents(toPath, separator);
  std::size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) {
    ++common;
  }
  std::string result;
  if (common == from.size()) {
    result.push_back('.');
    result.push_back(separator);
  } else {
    for (std::size_t i = common; i < from.size(); ++i) {
      result.append("..");
      result.push_back(separator);
    }
  }
  const bool toFolder = !toPath.empty() && toPath.back() == separator;
  for (std::size_t i = common; i < to.size(); ++i) {
    result.append(to[i]);
    if (i + 1 < to.size() || toFolder) {
      result.push_back(separator);
    }
  }
  return result;
}

std::string ToNativeSeparators(std::string_view path) {
  return ReplaceChar(path, '/', platform::kPathSeparator);
}

std::string ToForwardSlashes(std::string_view path) {
  return ReplaceChar(path, platform::kPathSeparator, '/');
}

}  // namespace tarvix
