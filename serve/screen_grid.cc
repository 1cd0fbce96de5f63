#include "screen_grid.h"

#include <algorithm>
#include <vector>

#include "display_value.h"
#include "document.h"
#include "html.h"

namespace {

// One character cell: its store byte, and the field that owns it (an
// index into Grid::fields) or -1 for mask text.
struct Cell {
  char byte = ' ';
  int owner = -1;
};

struct PlacedField {
  std::string id;
  bool numeric = false;
};

struct Grid {
  std::vector<std::vector<Cell>> rows;
  std::vector<PlacedField> fields;

  Cell* At(int row, int column) {
    if (row < 0 || column < 0 || row >= kMaxScreenRows || column >= kMaxScreenColumns) return nullptr;
    if (static_cast<size_t>(row) >= rows.size()) rows.resize(static_cast<size_t>(row) + 1);
    std::vector<Cell>& cells = rows[static_cast<size_t>(row)];
    if (static_cast<size_t>(column) >= cells.size()) cells.resize(static_cast<size_t>(column) + 1);
    return &cells[static_cast<size_t>(column)];
  }

  void PutMask(int row, const std::string& line) {
    for (size_t i = 0; i < line.size(); ++i)
      if (Cell* cell = At(row, static_cast<int>(i))) cell->byte = line[i];
  }

  void PutField(const FieldDef& def, int width, std::string_view value, std::string id) {
    const int owner = static_cast<int>(fields.size());
    fields.push_back({std::move(id), IsNumericField(def)});
    std::string shown = DisplayValue(def, value);
    if (static_cast<int>(shown.size()) > width) {
      shown = fields.back().numeric ? std::string(static_cast<size_t>(width), '*') : shown.substr(0, static_cast<size_t>(width));
    }
    const size_t pad = static_cast<size_t>(width) - shown.size();
    shown = fields.back().numeric ? std::string(pad, ' ') + shown : shown + std::string(pad, ' ');
    for (int i = 0; i < width; ++i) {
      Cell* cell = At(def.row, def.column + i);
      if (cell == nullptr) break;
      *cell = {shown[static_cast<size_t>(i)], owner};
    }
  }
};

int Width(const Form& form, const FieldDef& def, bool header) {
  if (def.type == 8 || def.type == 9) return 10;
  int width = std::max<int>(def.length, 0);
  if (header && IsKeyType(def.type)) {
    const TableDesc* table = form.table(KeyTable(def.type));
    if (table != nullptr) width += 1 + std::max(table->description_size, 0);
  }
  return std::min(width, kMaxScreenColumns);
}

void AppendRow(const Grid& grid, const std::vector<Cell>& cells, const Utf8Converter& converter, std::string* out) {
  size_t i = 0;
  while (i < cells.size()) {
    const int owner = cells[i].owner;
    std::string bytes;
    for (; i < cells.size() && cells[i].owner == owner; ++i) bytes.push_back(cells[i].byte);
    const std::string text = converter.Convert(bytes);
    if (owner < 0) {
      AppendHtml(text, out);
      continue;
    }
    const PlacedField& field = grid.fields[static_cast<size_t>(owner)];
    out->append("<span class=\"f");
    if (field.numeric) out->append(" n");
    out->append("\" data-id=\"" + field.id + "\" title=\"" + field.id + "\">");
    AppendHtml(text, out);
    out->append("</span>");
  }
}

}  // namespace

void AppendScreenHtml(const ServedForm& form, const RecordReader& reader, const Utf8Converter& converter,
                      std::string* out) {
  const Form& f = form.engine->form();
  const RecordValues& values = reader.values();
  Grid grid;
  for (size_t i = 0; i < form.header_mask.size(); ++i) grid.PutMask(static_cast<int>(i), form.header_mask[i]);
  const int detail_top = static_cast<int>(form.header_mask.size());
  for (size_t j = 0; j < form.detail_mask.size(); ++j)
    grid.PutMask(detail_top + static_cast<int>(j), form.detail_mask[j]);
  for (int i = 0; i < f.header_count; ++i)
    grid.PutField(f.ph[static_cast<size_t>(i)], Width(f, f.ph[static_cast<size_t>(i)], true), values.HeaderText(i),
                  FieldId('h', i));
  for (int line = 0; line < f.line_count; ++line) {
    if (!reader.LinePresent(line)) continue;
    for (int i = 0; i < f.field_count; ++i) {
      const FieldDef& def = f.detail(line, i);
      grid.PutField(def, Width(f, def, false), values.DetailText(line, i),
                    FieldId('d', i) + "-" + std::to_string(line));
    }
  }
  out->append("<pre class=\"screen\">");
  for (const std::vector<Cell>& cells : grid.rows) {
    AppendRow(grid, cells, converter, out);
    out->push_back('\n');
  }
  out->append("</pre>\n");
}
