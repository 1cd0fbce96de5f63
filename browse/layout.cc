#include "layout.h"

#include <algorithm>

#include "field_text.h"

namespace {

// "h03", "d12": a field's letter and number as query arguments write them.
std::string FieldName(char letter, int n) {
  std::string name(1, letter);
  if (n >= 0 && n < 10) name.push_back('0');
  name.append(std::to_string(n));
  return name;
}

void AddName(std::string* names, const std::string& name) {
  if (!names->empty()) names->push_back(' ');
  names->append(name);
}

// Places one field; adds its name to `hidden` when it lies off the screen.
Placement Place(const Form& form, const FieldDef& def, bool header, const Layout& layout) {
  Placement p;
  p.row = def.row;
  p.column = def.column;
  p.full_width = DisplayWidth(form, def, header);
  p.shown = def.row >= 0 && def.row < layout.message_row && def.column >= 0 &&
            def.column < layout.size.columns;
  if (p.shown) p.width = std::min(p.full_width, layout.size.columns - def.column);
  return p;
}

void AddMaskLine(const std::string& line, int row, Layout* layout) {
  if (row >= layout->message_row) return;
  const int end = std::min<int>(static_cast<int>(line.size()), layout->size.columns);
  int i = 0;
  while (i < end) {
    if (line[static_cast<size_t>(i)] == ' ') {
      ++i;
      continue;
    }
    int j = i;
    while (j < end && line[static_cast<size_t>(j)] != ' ') ++j;
    layout->mask.push_back({row, i, line.substr(static_cast<size_t>(i), static_cast<size_t>(j - i))});
    i = j;
  }
}

}  // namespace

Layout MakeLayout(const Form& form, const std::vector<std::string>& header_mask,
                  const std::vector<std::string>& detail_mask, ScreenSize size, int message_row) {
  Layout layout;
  layout.size = size;
  layout.message_row = message_row >= 0 && message_row < size.rows ? message_row : size.rows - 1;

  int bottom = static_cast<int>(header_mask.size() + detail_mask.size()) - 1;
  int right = 0;
  for (size_t i = 0; i < header_mask.size(); ++i) {
    AddMaskLine(header_mask[i], static_cast<int>(i), &layout);
    right = std::max(right, static_cast<int>(header_mask[i].size()));
  }
  for (size_t j = 0; j < detail_mask.size(); ++j) {
    AddMaskLine(detail_mask[j], static_cast<int>(header_mask.size() + j), &layout);
    right = std::max(right, static_cast<int>(detail_mask[j].size()));
  }

  std::string hidden;
  auto extend = [&](const Placement& p) {
    bottom = std::max(bottom, p.row);
    right = std::max(right, p.column + p.full_width);
  };
  for (int f = 0; f < form.header_count; ++f) {
    layout.header.push_back(Place(form, form.ph[static_cast<size_t>(f)], true, layout));
    extend(layout.header.back());
    if (!layout.header.back().shown) AddName(&hidden, FieldName('h', f));
  }
  for (int line = 0; line < form.line_count; ++line) {
    std::string names;
    for (int f = 0; f < form.field_count; ++f) {
      layout.detail.push_back(Place(form, form.detail(line, f), false, layout));
      extend(layout.detail.back());
      if (!layout.detail.back().shown) AddName(&names, FieldName('d', f));
    }
    if (!names.empty()) AddName(&hidden, "line " + std::to_string(line) + ": " + names);
  }
  layout.hidden = hidden;

  // The frame closes one row below and one column right of the form. On a
  // screen too small for it there is none: drawn at the screen's edge, it
  // would cross the values there.
  layout.frame_bottom = bottom + 1;
  layout.frame_right = right;
  layout.frame = layout.frame_bottom < layout.message_row && layout.frame_right < size.columns &&
                 layout.frame_bottom >= 1 && layout.frame_right >= 1;
  return layout;
}
