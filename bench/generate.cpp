// Writes deterministic benchmark documents: realistic mixed Markdown of a given size
// (with or without link references defined at the end, which take a second pass), and
// one sample per construct. The same kind, size and seed always give the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// A small fixed generator, so the documents do not depend on the standard library.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 2862933555777941757ULL + 3037000493ULL) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 11);
  }
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }
  bool Chance(int percent) { return Below(100) < percent; }

 private:
  std::uint64_t state_;
};

constexpr std::string_view kWords[] = {
    "the",     "converter", "reads", "every",  "document", "once",   "and",   "writes",
    "a",       "page",      "with",  "links",  "tables",   "quotes", "code",  "lists",
    "heading", "template",  "value", "option", "folder",   "output", "token", "pass",
    "simple",  "fast",      "exact", "byte",   "user",     "site",   "guide", "section",
    "of",      "to",        "in",    "for",    "is",       "on",     "that",  "by"};
constexpr int kReferenceCount = 40;

struct Generator {
  Random random;
  bool references;
  std::string out;

  std::string_view Word() { return kWords[random.Below(static_cast<int>(std::size(kWords)))]; }

  // A line of running text with the usual inline constructs.
  void Sentence(int words) {
    for (int i = 0; i < words; ++i) {
      if (i > 0)
        out += ' ';
      const int pick = random.Below(100);
      if (pick < 4) {
        out.append("*").append(Word()).append("*");
      } else if (pick < 7) {
        out.append("**").append(Word()).append(" ").append(Word()).append("**");
      } else if (pick < 9) {
        out.append("`").append(Word()).append("()`");
      } else if (pick < 11) {
        out.append("[").append(Word()).append("](https://example.com/").append(Word());
        out.append(".html)");
      } else if (pick < 12 && references) {
        out.append("[").append(Word()).append("][ref").append(
            std::to_string(random.Below(kReferenceCount)));
        out.append("]");
      } else if (pick < 13) {
        out.append("_").append(Word()).append("_");
      } else {
        out.append(Word());
      }
    }
  }

  void Paragraph() {
    const int lines = 1 + random.Below(4);
    for (int i = 0; i < lines; ++i) {
      Sentence(8 + random.Below(8));
      out += ".\n";
    }
    out += '\n';
  }
  void Heading(int n) {
    out.append(std::string(1 + random.Below(3), '#')).append(" ");
    Sentence(3);
    out.append(" ").append(std::to_string(n)).append("\n\n");
  }
  void List() {
    const bool ordered = random.Chance(30);
    const int items = 2 + random.Below(5);
    for (int i = 0; i < items; ++i) {
      out.append(ordered ? std::to_string(i + 1) + ". " : "- ");
      Sentence(5 + random.Below(8));
      out += '\n';
      if (!ordered && random.Chance(20)) {
        out.append("  - ");
        Sentence(4);
        out += '\n';
      }
    }
    out += '\n';
  }
  void Quote() {
    const int lines = 1 + random.Below(3);
    for (int i = 0; i < lines; ++i) {
      out.append("> ");
      Sentence(8 + random.Below(6));
      out += '\n';
    }
    out += '\n';
  }
  void Code() {
    out.append(random.Chance(50) ? "```js\n" : "```\n");
    const int lines = 2 + random.Below(6);
    for (int i = 0; i < lines; ++i) {
      out.append("  var ").append(Word()).append(" = f(\"").append(Word()).append("\") < 2;\n");
    }
    out.append("```\n\n");
  }
  void Table() {
    out.append("| name | kind | value |\n|:-----|:----:|------:|\n");
    const int rows = 2 + random.Below(5);
    for (int i = 0; i < rows; ++i) {
      out.append("| ").append(Word()).append(" | *").append(Word()).append("* | ");
      out.append(std::to_string(random.Below(1000))).append(" |\n");
    }
    out += '\n';
  }
  void Definitions() {
    for (int i = 0; i < kReferenceCount; ++i) {
      out.append("[ref").append(std::to_string(i)).append("]: https://example.com/ref/");
      out.append(std::to_string(i)).append(".html\n");
    }
  }

  void Mixed(std::size_t size) {
    out.append("<!--\ntitle: Benchmark document\nkeywords: bench\n-->\n\n");
    for (int n = 0; out.size() < size; ++n) {
      const int pick = random.Below(100);
      if (pick < 10) {
        Heading(n);
      } else if (pick < 55) {
        Paragraph();
      } else if (pick < 70) {
        List();
      } else if (pick < 80) {
        Quote();
      } else if (pick < 90) {
        Code();
      } else {
        Table();
      }
    }
    if (references)
      Definitions();
  }

  // Ordinary prose: headings and paragraphs with emphasis, one pass.
  void Plain(std::size_t size) {
    for (int n = 0; out.size() < size; ++n) {
      if (random.Below(100) < 15) {
        Heading(n);
      } else {
        Paragraph();
      }
    }
  }

  // One construct repeated to `size`.
  bool Sample(std::string_view name, std::size_t size) {
    for (int n = 0; out.size() < size; ++n) {
      if (name == "headings") {
        Heading(n);
      } else if (name == "paragraphs") {
        Paragraph();
      } else if (name == "lists") {
        List();
      } else if (name == "quotes") {
        Quote();
      } else if (name == "code") {
        Code();
      } else if (name == "tables") {
        Table();
      } else if (name == "emphasis") {
        for (int i = 0; i < 10; ++i)
          out.append("*").append(Word()).append("* **").append(Word()).append("** ");
        out += "\n\n";
      } else if (name == "links") {
        for (int i = 0; i < 6; ++i)
          out.append("[").append(Word()).append("](https://example.com/x.html \"t\") ");
        out += "\n\n";
      } else {
        return false;
      }
    }
    return true;
  }

  // Documents made to break a converter: openers that never close, rows without end,
  // bytes that are no text. Each is `size` bytes or a little more.
  bool Hostile(std::string_view name, std::size_t size) {
    if (name == "star-underscore") {
      while (out.size() < size)
        out += "*_";
    } else if (name == "printable") {
      // Random printable ASCII with a line end now and then.
      while (out.size() < size)
        out += random.Below(60) == 0 ? '\n' : static_cast<char>(32 + random.Below(95));
    } else if (name == "bytes") {
      while (out.size() < size)
        out += static_cast<char>(random.Below(256));
    } else if (name == "bytes-line") {
      // Random bytes 32-255 on one line: no line end to stop a scan, mostly ill-formed UTF-8.
      while (out.size() < size)
        out += static_cast<char>(32 + random.Below(224));
    } else if (name == "cjk-line") {
      // Random CJK text on one line with an emphasis or link byte now and then.
      constexpr std::string_view kMarks = "*_[]()";
      while (out.size() < size) {
        if (random.Below(12) == 0) {
          out += kMarks[random.Below(static_cast<int>(kMarks.size()))];
          continue;
        }
        // A code point from the unified ideographs, hiragana or katakana, as UTF-8.
        const int pick = random.Below(10);
        const std::uint32_t c = pick < 6   ? 0x4E00 + random.Below(0x5000)
                                : pick < 8 ? 0x3041 + random.Below(0x56)
                                           : 0x30A1 + random.Below(0x5A);
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    } else if (name == "table-column") {
      out += "|a|\n|-|\n";
      while (out.size() < size)
        out.append("|").append(Word()).append("|\n");
    } else if (name == "table-one") {
      // A one-column table of one-letter rows, with and without their pipes: each row
      // costs a whole row of markup.
      out += "|a|\n|-|\n";
      while (out.size() < size) {
        const char letter = static_cast<char>('a' + random.Below(26));
        if (random.Below(2) == 0) {
          out.append("|").append(1, letter).append("|\n");
        } else {
          out.append(1, letter).append("\n");
        }
      }
    } else if (name == "table-wide") {
      // Rows of a thousand cells each.
      constexpr int kCells = 1000;
      for (int i = 0; i < kCells; ++i)
        out += "|h";
      out += "|\n";
      for (int i = 0; i < kCells; ++i)
        out += "|-";
      out += "|\n";
      while (out.size() < size) {
        for (int i = 0; i < kCells; ++i)
          out.append("|").append(Word());
        out += "|\n";
      }
    } else if (name == "quote-line") {
      while (out.size() < size)
        out += "> ";
    } else if (name == "backticks") {
      // Runs of growing length: the first opens a span that nothing closes.
      out += "a";
      for (std::size_t length = 1; out.size() < size; ++length)
        out.append(length % 4096 + 1, '`').append("a");
    } else if (name == "link-open") {
      while (out.size() < size)
        out += "[x](";
    } else if (name == "brackets") {
      while (out.size() < size)
        out += "[![";
    } else if (name == "angles") {
      while (out.size() < size)
        out += "<a ";
    } else {
      return false;
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr,
                 "usage: tarvix_generate KIND BYTES [SEED]\n"
                 "KIND: mixed, mixed-noref, plain, headings, paragraphs, lists, quotes, code,\n"
                 "      tables, emphasis, links\n"
                 "      hostile: star-underscore, printable, bytes, bytes-line, cjk-line,\n"
                 "      table-column, table-one, table-wide, quote-line, backticks, link-open,\n"
                 "      brackets, angles\n");
    return 2;
  }
  const std::string_view kindName = argv[1];
  const std::size_t size = std::strtoull(argv[2], nullptr, 10);
  const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  Generator g{Random(seed), kindName == "mixed", {}};
  g.out.reserve(size + 4096);
  if (kindName == "mixed" || kindName == "mixed-noref") {
    g.Mixed(size);
  } else if (kindName == "plain") {
    g.Plain(size);
  } else if (!g.Sample(kindName, size) && !g.Hostile(kindName, size)) {
    std::fprintf(stderr, "unknown kind %s\n", argv[1]);
    return 2;
  }
  return std::fwrite(g.out.data(), 1, g.out.size(), stdout) == g.out.size() ? 0 : 1;
}
