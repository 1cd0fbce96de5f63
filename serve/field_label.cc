#include "field_label.h"

#include <algorithm>

#include "document.h"

namespace {

// The mask line shown on screen row `row`, or empty text.
std::string_view MaskRow(const ServedForm& form, int row) {
  if (row < 0) return {};
  const size_t r = static_cast<size_t>(row);
  if (r < form.header_mask.size()) return form.header_mask[r];
  if (r - form.header_mask.size() < form.detail_mask.size()) return form.detail_mask[r - form.header_mask.size()];
  return {};
}

// The phrase (non-blank text with single blanks inside) around `at`.
std::string_view PhraseAt(std::string_view line, size_t at) {
  size_t begin = at;
  while (begin > 0 && line[begin - 1] != ' ') --begin;
  while (begin >= 2 && line[begin - 1] == ' ' && line[begin - 2] != ' ') {
    begin -= 2;
    while (begin > 0 && line[begin - 1] != ' ') --begin;
  }
  size_t end = at;
  while (end < line.size() && (line[end] != ' ' || (end + 1 < line.size() && line[end + 1] != ' '))) ++end;
  return line.substr(begin, end - begin);
}

std::string_view PhraseBefore(std::string_view line, size_t column) {
  size_t end = std::min(column, line.size());
  while (end > 0 && line[end - 1] == ' ') --end;
  if (end == 0) return {};
  return PhraseAt(line, end - 1);
}

// The word (no blanks) over the field's first cells: a row of column
// titles puts single blanks between them.
std::string_view WordAbove(std::string_view line, size_t column, size_t width) {
  for (size_t i = column; i < std::min(line.size(), column + std::max<size_t>(width, 1)); ++i) {
    if (line[i] == ' ') continue;
    size_t begin = i;
    while (begin > 0 && line[begin - 1] != ' ') --begin;
    size_t end = i;
    while (end < line.size() && line[end] != ' ') ++end;
    return line.substr(begin, end - begin);
  }
  return {};
}

}  // namespace

std::string FieldLabel(const ServedForm& form, char letter, int field, const Utf8Converter& converter) {
  const Form& f = form.engine->form();
  const std::string id = FieldId(letter, field);
  const FieldDef* def = nullptr;
  if (letter == 'h' && field >= 0 && field < f.header_count) def = &f.ph[static_cast<size_t>(field)];
  if (letter == 'd' && field >= 0 && field < f.field_count && f.line_count > 0) def = &f.detail(0, field);
  if (def == nullptr || def->row < 0 || def->column < 0) return id;
  const size_t column = static_cast<size_t>(def->column);
  std::string_view label = PhraseBefore(MaskRow(form, def->row), column);
  if (label.empty()) label = WordAbove(MaskRow(form, def->row - 1), column, static_cast<size_t>(std::max<int>(def->length, 1)));
  if (label.empty()) return id;
  return converter.Convert(label) + " (" + id + ")";
}
