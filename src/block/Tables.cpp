// Pipe tables: a header row, an alignment row and body rows up to a blank line. Lines
// that turn out not to be a table are written back as what they looked like.
#include <vector>

#include "app/Parser_CL.h"
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

}  // namespace

int Parser_CL::RenderTable(OutputPair& out, std::string firstCell, int atBlockStart,
                           std::size_t tableStart) {
  OutputPair source;  // what the lines read so far looked like
  OutputPair& cell = ScratchPair();
  std::vector<std::string> headerCells;
  std::vector<std::int32_t> alignments;

  auto record = [&] { AppendHtmlUtf8(source, current()); };
  auto renderCell = [&] {
    cell.Clear();
    RenderInline(InlineMode::TableCell, cell, -1);
  };
  auto notTable = [&] {
    if (atBlockStart)
      out.html.append("<p>").append(source.html).append("</p>");
    return 0;
  };

  if (atBlockStart) {
    if (current().Is(kind::Pipe)) {
      record();
      NextToken(false);
    }
    renderCell();
    firstCell = cell.html;
  }

  // Header row. A quoted passage that ends here makes the lines no table at once.
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
    NoteTrimmed(trimmed);
    html.append(trimmed);
    html.append("</th>\n");
  }
  html.append("</tr>\n</thead>\n");

  // Body rows, up to a blank line; a quoted passage that ends also ends the table. Cells
  // beyond the header's count are dropped, missing ones are empty.
  std::size_t rows = 0;
  while (!current().EndsGathering()) {
    if (rows == 0)
      html.append("<tbody>\n");
    html.append(rows % 2 == 0 ? "<tr class=\"odd\">\n" : "<tr class=\"even\">\n");
    ++rows;
    std::size_t written = 0;
    if (current().Is(kind::Pipe))
      NextToken(false);
    while (!current().EndsGathering()) {
      renderCell();
      if (written < columns) {
        html.append(kBodyCellOpen[AlignIndex(alignments[written])]);
        const std::string_view trimmed = Trim(cell.html);
        NoteTrimmed(trimmed);
        html.append(trimmed);
        html.append("</td>\n");
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
    for (; written < columns; ++written) {
      html.append(kBodyCellOpen[AlignIndex(alignments[written])]);
      html.append("</td>\n");
    }
    html.append("</tr>\n");
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
