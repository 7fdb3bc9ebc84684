// The state file of a site run: its text form, written and read back.
#include "app/SiteState.h"

#include <charconv>
#include <cstdint>

namespace tarvix {
namespace {

// The first line; a new format gets a new number, and an old file is then ignored.
constexpr std::string_view kVersionLine = "tarvix-site 1";
constexpr std::string_view kMissing = "-";

void AppendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
}

std::optional<std::string> Unescaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out.push_back(text[i]);
      continue;
    }
    if (++i == text.size())
      return std::nullopt;
    switch (text[i]) {
      case '\\':
        out.push_back('\\');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      default:
        return std::nullopt;
    }
  }
  return out;
}

// The fields of one line, split at tabs.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', from);
    if (tab == std::string_view::npos) {
      fields.push_back(line.substr(from));
      return fields;
    }
    fields.push_back(line.substr(from, tab - from));
    from = tab + 1;
  }
}

template <class Number>
bool ReadNumber(std::string_view text, Number* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string FormatSiteState(const SiteState& state) {
  std::string out(kVersionLine);
  out += "\noptions\t";
  AppendEscaped(out, state.options);
  out.push_back('\n');
  for (const SitePage& page : state.pages) {
    out += "page\t";
    AppendEscaped(out, page.document);
    out.push_back('\t');
    AppendEscaped(out, page.target);
    out.push_back('\n');
    for (const SiteInput& input : page.inputs) {
      out += "input\t";
      if (input.stamp.exists) {
        out += std::to_string(input.stamp.time);
        out.push_back('\t');
        out += std::to_string(input.stamp.size);
      } else {
        out.append(kMissing).push_back('\t');
        out.append(kMissing);
      }
      out.push_back('\t');
      AppendEscaped(out, input.path);
      out.push_back('\n');
    }
  }
  return out;
}

std::optional<SiteState> ParseSiteState(std::string_view text) {
  SiteState state;
  bool sawVersion = false;
  bool sawOptions = false;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find('\n', from);
    // A file cut short in its last line is not trusted.
    if (end == std::string_view::npos)
      return std::nullopt;
    const std::string_view line = text.substr(from, end - from);
    from = end + 1;
    if (!sawVersion) {
      if (line != kVersionLine)
        return std::nullopt;
      sawVersion = true;
      continue;
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields[0] == "options" && fields.size() == 2 && !sawOptions) {
      std::optional<std::string> options = Unescaped(fields[1]);
      if (!options)
        return std::nullopt;
      state.options = std::move(*options);
      sawOptions = true;
    } else if (fields[0] == "page" && fields.size() == 3) {
      std::optional<std::string> document = Unescaped(fields[1]);
      std::optional<std::string> target = Unescaped(fields[2]);
      if (!document || !target)
        return std::nullopt;
      state.pages.push_back({std::move(*document), std::move(*target), {}});
    } else if (fields[0] == "input" && fields.size() == 4 && !state.pages.empty()) {
      SiteInput input;
      std::optional<std::string> path = Unescaped(fields[3]);
      if (!path)
        return std::nullopt;
      input.path = std::move(*path);
      if (fields[1] != kMissing || fields[2] != kMissing) {
        input.stamp.exists = true;
        if (!ReadNumber(fields[1], &input.stamp.time) || !ReadNumber(fields[2], &input.stamp.size))
          return std::nullopt;
      }
      state.pages.back().inputs.push_back(std::move(input));
    } else {
      return std::nullopt;
    }
  }
  if (!sawOptions)
    return std::nullopt;
  return state;
}

}  // namespace tarvix
