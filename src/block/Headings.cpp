// Headings with document-unique ids, paragraphs, and the underlined headings a paragraph
// turns into.
#include <algorithm>

#include "app/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::int32_t kMaxHeadingLevel = 6;

// The id of a heading: its text without double quotes, apostrophes and parentheses;
// letters keep their case and blanks stay.
void MakeId(std::string_view text, std::string& id) {
  id.clear();
  for (char c : text) {
    if (c != '"' && c != '\'' && c != '(' && c != ')')
      id.push_back(c);
  }
}

}  // namespace

void Parser_CL::RenderHeading(OutputPair& out) {
  const std::int32_t level = std::min(current().count, kMaxHeadingLevel);
  NextToken(false);
  OutputPair& line = ScratchPair();
  RenderInline(InlineMode::Heading, line, -1);

  headingText_.clear();
  AppendCleanUtf8(headingText_, line.text);
  std::string& id = headingId_;
  MakeId(Trim(headingText_), id);
  // The id's slot in the table is fetched while the heading is written; a number for an
  // id taken before goes in behind the id afterwards.
  const std::size_t hash = headingIds.Find(id);
  const char levelText[] = {static_cast<char>('0' + level), '\0'};
  AppendText(out, line.text);
  out.html.append("<h").append(levelText).append(" id=\"").append(id);
  const std::size_t idEnd = out.html.size();
  out.html.append("\">");
  out.html.append(Trim(line.html));
  out.html.append("</h").append(levelText).append(">\n");
  if (const std::int32_t before = headingIds.Take(id, hash); before != 0) {
    std::string number(1, '-');
    number.append(IntToText(before));
    out.html.insert(idEnd, number);
    id.append(number);
  }
  NoteHeading(level, id, Trim(line.html));
}

int Parser_CL::RenderParagraph(OutputPair& out) {
  // The paragraph is rendered straight into the caller's pair behind an opening "<p>"
  // written in advance; an underline turns it into a heading once the kind is known.
  const std::size_t htmlStart = out.html.size();
  const std::size_t textStart = out.text.size();
  out.html.append("<p>");
  const std::size_t contentStart = out.html.size();
  auto emit = [&](std::string_view open, std::string_view close) {
    out.html.replace(htmlStart, contentStart - htmlStart, open);
    out.html.append(close);
  };
  for (;;) {
    RenderInline(InlineMode::Paragraph, out, -1);
    const Token& t = current();
    if (t.Is(kind::Equals)) {
      const ParserSnapshot snapshot = Snapshot();
      while (current().Is(kind::Equals))
        NextToken(true);
      if (current().Is(kind::Lf)) {
        emit("<h1>", "</h1>\n");
        return 0;
      }
      // Not alone on its line: the run of "=" is paragraph text.
      Restore(snapshot, nullptr);
      continue;
    }
    if (t.Is(kind::Rule)) {
      NextToken(true);
      emit("<h2>", "</h2>\n");
      return 0;
    }
    if (t.Is(kind::Hyphen)) {
      const ParserSnapshot snapshot = Snapshot();
      while (current().Is(kind::Hyphen))
        NextToken(true);
      if (current().Is(kind::Lf)) {
        emit("<h2>", "</h2>\n");
        return 0;
      }
      Restore(snapshot, nullptr);
      continue;
    }
    if (t.Is(kind::Pipe)) {
      const ParserSnapshot snapshot = Snapshot();
      if (RenderTable(out, out.html.substr(contentStart), 0, htmlStart)) {
        // A table replaces what the line held so far, in both halves of the pair.
        if (out.keepText)
          out.text.resize(textStart);
        return 0;
      }
      // No table: the `|` is text, and no later `|` of this paragraph tries again.
      Restore(snapshot, nullptr);
      tableRowFlag = 0;
      continue;
    }
    emit("<p>", "</p>\n");
    return 0;
  }
}

}  // namespace tarvix
