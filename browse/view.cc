#include "view.h"

#include <cstdio>
#include <span>

#include "control_format.h"
#include "field_text.h"
#include "tcp.h"

namespace {

void WriteBytes(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void WriteEntry(int entry) {
  tcplib::WriteControl(stdout, tc[entry], std::span<const int>());
}

}  // namespace

void View::DrawField(const Placement& p, const FieldDef& def, std::string_view text) {
  if (!p.shown || p.width <= 0) return;
  // The value is laid out in all its cells, then cut at the screen's edge,
  // so a right-aligned number is cut as it would show, not re-aligned.
  std::string shown = DisplayText(def, text, p.full_width);
  pos(p.row, p.column);
  Write(CutAtEdge(def, shown, p.width));
}

void View::Write(const std::string& text) const { WriteBytes(text_.Convert(text)); }

void View::Blank(const Placement& p) {
  if (!p.shown || p.width <= 0) return;
  pos(p.row, p.column);
  Write(std::string(static_cast<size_t>(p.width), ' '));
}

void View::ClearFields() {
  for (const Placement& p : layout_.header) Blank(p);
  for (const Placement& p : layout_.detail) Blank(p);
}

void View::DrawRecord(const DocumentShown& shown) {
  if (shown.values != nullptr) {
    DrawValues(*shown.values, shown.lines);
    return;
  }
  ClearFields();
  std::fflush(stdout);
}

void View::DrawValues(const RecordValues& values, const std::vector<bool>& lines_shown) {
  const Form& form = *form_;
  for (int f = 0; f < form.header_count; ++f) {
    DrawField(layout_.header[static_cast<size_t>(f)], form.ph[static_cast<size_t>(f)], values.HeaderText(f));
  }
  for (int line = 0; line < form.line_count; ++line) {
    const bool drawn = static_cast<size_t>(line) < lines_shown.size() && lines_shown[static_cast<size_t>(line)];
    for (int f = 0; f < form.field_count; ++f) {
      const Placement& p = layout_.detail_at(line, f, form.field_count);
      if (drawn) {
        DrawField(p, form.detail(line, f), values.DetailText(line, f));
      } else {
        Blank(p);
      }
    }
  }
  std::fflush(stdout);
}

void View::DrawMessage(const std::string& text) {
  const int width = layout_.size.columns - 1;  // the last cell stays free: no wrap
  if (width <= 0) return;
  std::string row(static_cast<size_t>(width), ' ');
  const std::string cut = text.substr(0, static_cast<size_t>(width));
  row.replace(static_cast<size_t>(width - static_cast<int>(cut.size())) / 2, cut.size(), cut);
  for (char& c : row) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  pos(layout_.message_row, 0);
  WriteEntry(TC_MSG_ON);
  Write(row);
  WriteEntry(TC_MSG_OFF);
  std::fflush(stdout);
}

void View::DrawForm() {
  if (layout_.frame) box(0, 0, layout_.frame_bottom, layout_.frame_right);
  for (const MaskRun& run : layout_.mask) {
    pos(run.row, run.column);
    Write(run.text);
  }
}

void View::DrawAll(const DocumentShown& shown, const std::string& message) {
  // Every cell is blanked but the last of the last row, whose writing
  // would scroll some terminals.
  const std::string blank_row(static_cast<size_t>(std::max(layout_.size.columns, 0)), ' ');
  for (int r = 0; r < layout_.size.rows; ++r) {
    pos(r, 0);
    Write(r + 1 < layout_.size.rows ? blank_row : blank_row.substr(1));
  }
  DrawForm();
  DrawRecord(shown);
  DrawMessage(message);
}
