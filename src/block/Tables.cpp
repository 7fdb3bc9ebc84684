// Pipe tables: a header row, an alignment row and body rows up to a blank line. Lines
// that turn out not to be a table are written back as what they looked like.
#include <algorithm>
#include <array>
#include <vector>

#include "core/Parser_CL.h"
#include "text/Text.h"

namespace tarvix {
namespace {

constexpr std::string_view kHeaderCellOpen[] = {"<th align=\"left\">", "<th align=\"center\">",
                                                "<th align=\"right\">"};
constexpr std::string_view kBodyCellOpen[] = {"<td align=\"left\">", "<td align=\"center\">",
                                              "<td align=\"right\">"};

std::size_t AlignIndex(std::int32_t alignment) {
  return alignment >= 0 && alignment <= 2 ? static_cast<std::size_t>(alignment) : 0;
}

// The bytes of a row that is written from its line as it stands: letters and digits are
// text tokens whose HTML is their bytes, and pipes part the cells.
constexpr std::array<bool, 256> MakeRowBytes() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c)
    t[static_cast<std::size_t>(c)] = true;
  for (int c = 'a'; c <= 'z'; ++c) {
    t[static_cast<std::size_t>(c)] = true;
    t[static_cast<std::size_t>(c - 'a' + 'A')] = true;
  }
  t['|'] = true;
  return t;
}
constexpr std::array<bool, 256> kRowBytes = MakeRowBytes();

// A body of short rows grows far beyond its lines, and a buffer that outgrows its room is
// copied whole, which holds the body twice. So once the rows have written kRowCheck, and
// again each time they have doubled, or when they near the end of the room, we make room
// at once for the rest of the document at the rate the table has grown so far, up to
// kMaxRowRoom more: room that is never written costs no memory, and a copy made early
// is small.
constexpr std::size_t kRowCheck = std::size_t{1} << 20;
constexpr std::size_t kRowRoomLeft = std::size_t{1} << 16;
constexpr std::size_t kMaxRowRoom = std::size_t{1} << 30;
constexpr std::string_view kOddRow = "<tr class=\"odd\">\n";
constexpr std::string_view kEvenRow = "<tr class=\"even\">\n";
constexpr std::string_view kCellClose = "</td>\n";
constexpr std::string_view kRowClose = "</tr>\n";

// Where token `t` starts in `bytes`, or npos for a token that is no slice of them.
std::size_t OffsetIn(std::string_view bytes, const Token& t) {
  return t.data >= bytes.data() && t.data < bytes.data() + bytes.size()
             ? static_cast<std::size_t>(t.data - bytes.data())
             : std::string_view::npos;
}

}  // namespace

bool Parser_CL::LineEndAhead() const {
  const std::string_view bytes = lex.Bytes();
  const std::size_t at = std::min(lex.Mark().pos, bytes.size());
  // Two scans for one byte each: a scan for either of two bytes goes a byte at a time, and
  // a line without an end is read to the end of the input.
  const std::string_view rest = bytes.substr(at > 0 ? at - 1 : 0);
  return rest.find('\n') != std::string_view::npos || rest.find('\r') != std::string_view::npos;
}

int Parser_CL::RenderTable(OutputPair& out, std::string firstCell, int atBlockStart,
                           std::size_t tableStart) {
  OutputPair source;  // what the lines read so far looked like, written only at a block start
  OutputPair& cell = inPlace_.ScratchPair(inlineDepth_);
  std::vector<std::string> headerCells;
  std::vector<std::int32_t> alignments;

  auto record = [&] {
    if (atBlockStart)
      AppendHtmlUtf8(source, current());
  };
  auto renderCell = [&] {
    cell.Clear();
    RenderInline(InlineMode::TableCell, cell, -1);
  };
  auto notTable = [&] {
    if (atBlockStart)
      out.html.append("<p>").append(source.html).append("</p>");
    return 0;
  };

  // With no line end left the lines are no table, and the line is read as a paragraph.
  if (!atBlockStart && !LineEndAhead())
    return 0;

  if (atBlockStart) {
    if (current().Is(kind::Pipe)) {
      record();
      NextToken(false);
    }
    renderCell();
    firstCell = cell.html;
  }

  // Header row. A quoted passage that ends here makes the lines no table at once.
  if (atBlockStart)
    source.html += firstCell;
  headerCells.push_back(firstCell);
  if (current().IsDepth())
    return notTable();
  record();
  NextToken(false);
  for (;;) {
    if (current().IsDepth())
      return notTable();
    if (current().Is(kind::Lf) || current().Is(kind::Eof))
      break;
    renderCell();
    if (atBlockStart)
      source.html += cell.html;
    headerCells.push_back(cell.html);
    if (current().Is(kind::Pipe)) {
      record();
      NextToken(false);
      continue;
    }
    if (current().Is(kind::Lf))
      break;
    return notTable();
  }

  // Alignment row.
  record();
  NextToken(true);
  if (current().Is(kind::Pipe)) {
    record();
    NextToken(true);
  }
  for (;;) {
    const Token& t = current();
    if (t.IsDepth())
      return notTable();
    if (t.Is(kind::Eof))
      break;
    if (t.Is(kind::Pipe)) {
      record();
      NextToken(true);
      continue;
    }
    if (t.Is(kind::Hyphen) || t.Is(kind::Rule)) {
      alignments.push_back(0);
    } else if (t.Is(kind::Align)) {
      alignments.push_back(t.count);
    } else {
      return notTable();
    }
    record();
    NextToken(true);
    if (current().Is(kind::Pipe)) {
      record();
      NextToken(true);
      if (!current().Is(kind::Lf))
        continue;
    }
    if (current().Is(kind::Lf))
      break;
    return notTable();
  }
  if (alignments.size() < headerCells.size())
    return notTable();
  record();
  NextToken(false);

  // The lines are a table: it replaces what the caller wrote from `tableStart` on. The
  // rows are written as they are read, so the table is never held twice.
  const std::size_t columns = headerCells.size();
  std::string& html = out.html;
  html.resize(tableStart);
  html.append("<table>\n<thead>\n<tr class=\"header\">\n");
  for (std::size_t i = 0; i < columns; ++i) {
    html.append(kHeaderCellOpen[AlignIndex(alignments[i])]);
    const std::string_view trimmed = Trim(headerCells[i]);
    firstPass_.NoteTrimmed(trimmed, pass);
    html.append(trimmed);
    html.append("</th>\n");
  }
  html.append("</tr>\n</thead>\n");

  // Body rows, up to a blank line; a quoted passage that ends also ends the table. Cells
  // beyond the header's count are dropped, missing ones are empty.
  const std::string_view bytes = lex.Bytes();
  const std::size_t rowsHtml = html.size();
  const std::size_t rowsFrom = OffsetIn(bytes, current());
  std::size_t nextCheck = html.size() + kRowCheck;
  // Before a row that starts at `at` in the input.
  auto makeRoom = [&](std::size_t at) {
    if (html.size() < nextCheck && html.capacity() - html.size() >= kRowRoomLeft)
      return;
    nextCheck = html.size() + std::max(kRowCheck, html.size() - rowsHtml);
    // A long table is one block: the body's helper hears of it here.
    prefault_.Reach(html);
    if (at == std::string_view::npos || rowsFrom == std::string_view::npos || at <= rowsFrom)
      return;
    const std::size_t rate = (html.size() - rowsHtml) / (at - rowsFrom) + 1;
    const std::size_t rest = bytes.size() - at;
    const std::size_t room = rest <= kMaxRowRoom / rate ? rest * rate : kMaxRowRoom;
    const std::size_t want = html.size() + std::max(room, 2 * kRowRoomLeft);
    if (want > html.capacity()) {
      html.reserve(want);
      platform::AdviseLargeBuffer(html.data(), html.capacity());
    }
  };
  auto writeCell = [&](std::size_t column, std::string_view trimmed) {
    html.append(kBodyCellOpen[AlignIndex(alignments[column])]);
    firstPass_.NoteTrimmed(trimmed, pass);
    html.append(trimmed);
    html.append(kCellClose);
  };
  auto endRow = [&](std::size_t written) {
    for (; written < columns; ++written) {
      html.append(kBodyCellOpen[AlignIndex(alignments[written])]);
      html.append(kCellClose);
    }
    html.append(kRowClose);
  };
  std::size_t rows = 0;
  // Rows of letters, digits and pipes alone, with no blank, are written from their lines:
  // their cells are the bytes between the pipes, as their tokens would write them. Writes
  // such rows from the current token's line on while they follow one another, and leaves
  // the line end of the last one current. Returns how many it wrote.
  auto plainRows = [&] {
    const Token& t = current();
    std::size_t taken = 0;
    if (quoteDepth != 0 || t.flags != 0 || !(t.Is(kind::Text) || t.Is(kind::Pipe)))
      return taken;
    std::size_t start = OffsetIn(bytes, t);
    std::size_t lastEnd = 0;
    while (start < bytes.size()) {
      std::size_t end = start;
      while (end < bytes.size() && kRowBytes[static_cast<unsigned char>(bytes[end])])
        ++end;
      if (end == start || end == bytes.size() || bytes[end] != '\n')
        break;
      makeRoom(start);
      html.append((rows + taken) % 2 == 0 ? kOddRow : kEvenRow);
      std::size_t written = 0;
      std::size_t at = bytes[start] == '|' ? start + 1 : start;
      for (;;) {
        std::size_t stop = at;
        while (stop < end && bytes[stop] != '|')
          ++stop;
        if (written < columns) {
          writeCell(written, bytes.substr(at, stop - at));
          ++written;
        }
        if (stop == end || stop + 1 == end)
          break;
        at = stop + 1;
      }
      endRow(written);
      ++taken;
      lastEnd = end;
      start = end + 1;
    }
    if (taken != 0) {
      lex.MoveTo(lastEnd);
      NextToken(false);
    }
    return taken;
  };
  while (!current().EndsGathering()) {
    makeRoom(OffsetIn(bytes, current()));
    if (rows == 0)
      html.append("<tbody>\n");
    if (const std::size_t taken = plainRows(); taken != 0) {
      rows += taken;
    } else {
      html.append(rows % 2 == 0 ? kOddRow : kEvenRow);
      ++rows;
      std::size_t written = 0;
      if (current().Is(kind::Pipe))
        NextToken(false);
      while (!current().EndsGathering()) {
        renderCell();
        if (written < columns) {
          writeCell(written, Trim(cell.html));
          ++written;
        }
        if (current().Is(kind::Pipe)) {
          NextToken(false);
          if (current().Is(kind::Lf))
            break;
        } else if (current().Is(kind::Lf)) {
          break;
        }
      }
      endRow(written);
    }
    if (current().IsDepth())
      break;
    NextToken(false);
    if (current().Is(kind::Lf))
      break;
  }
  if (rows != 0)
    html.append("</tbody>\n");
  html.append("</table>\n");
  out.MarkMarkup();
  return 1;
}

}  // namespace tarvix
