// Drawing a form and the document shown on the terminal, through the
// terminal library: every write is placed with `pos` and kept within its
// row, so nothing wraps.
#ifndef BROWSE_VIEW_H_
#define BROWSE_VIEW_H_

#include <string>
#include <vector>

#include "layout.h"
#include "navigator.h"
#include "query.h"
#include "terminal_text.h"

class View {
 public:
  View(const Query* query, Layout layout) : query_(query), layout_(std::move(layout)) {}

  const Layout& layout() const { return layout_; }
  // How stored text is written to the terminal (by default: as stored,
  // control bytes as '?').
  void set_text(TerminalText text) { text_ = std::move(text); }
  void set_layout(Layout layout) { layout_ = std::move(layout); }

  // Draws the whole screen: blanks, the frame, the masks, the document the
  // navigator shows and the message; then flushes.
  void DrawAll(const Navigator& navigator, const std::string& message);
  // Draws the values of the document the navigator shows (blanks when it
  // shows none): every header field, and every detail line the query would
  // print; other lines are blank. Flushes.
  void DrawRecord(const Navigator& navigator);
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

  const Query* query_;
  Layout layout_;
  TerminalText text_;
};

#endif  // BROWSE_VIEW_H_
