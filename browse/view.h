// Drawing a form and the document shown on the terminal, through the
// terminal library: every write is placed with `pos` and kept within its
// row, so nothing wraps.
#ifndef BROWSE_VIEW_H_
#define BROWSE_VIEW_H_

#include <string>
#include <vector>

#include "form.h"
#include "layout.h"
#include "record_values.h"
#include "terminal_text.h"

// What the screen shows of a document: its values (none when no document
// is shown) and, by detail line, whether the line is drawn.
struct DocumentShown {
  const RecordValues* values = nullptr;
  std::vector<bool> lines;
};

class View {
 public:
  // `form` must outlive the view (or be replaced by set_form first).
  View(const Form& form, Layout layout) : form_(&form), layout_(std::move(layout)) {}

  const Layout& layout() const { return layout_; }
  // How stored text is written to the terminal (by default: as stored,
  // control bytes as '?').
  void set_text(TerminalText text) { text_ = std::move(text); }
  void set_layout(Layout layout) { layout_ = std::move(layout); }
  // The form the values drawn follow, after the engine is loaded again.
  void set_form(const Form& form) { form_ = &form; }

  // Draws the whole screen: blanks, the frame, the masks, the document
  // `shown` and the message; then flushes.
  void DrawAll(const DocumentShown& shown, const std::string& message);
  // Draws the document `shown` as DrawValues does, or blanks every field
  // when it has no values. Flushes.
  void DrawRecord(const DocumentShown& shown);
  // Draws `values` as DrawRecord draws a document: every header field, and
  // the fields of each line `lines_shown` marks (other lines blank). Flushes.
  void DrawValues(const RecordValues& values, const std::vector<bool>& lines_shown);
  // Draws the frame and the masks again, over what a field editor left
  // beside its field (blanks after a number's cells).
  void DrawForm();
  // Writes `text` centred on the message row between the table's message
  // entries, cut to the screen's width. Flushes.
  void DrawMessage(const std::string& text);
  // Blanks the cells of every field.
  void ClearFields();

 private:
  void DrawField(const Placement& p, const FieldDef& def, std::string_view text);
  void Blank(const Placement& p);
  // Writes `text`, in the store's encoding, through text_.
  void Write(const std::string& text) const;

  const Form* form_;
  Layout layout_;
  TerminalText text_;
};

#endif  // BROWSE_VIEW_H_
