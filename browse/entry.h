// Document entry: the values of one document while a person types them in
// (a new document, or one loaded from the store to be changed), the order in
// which its fields are edited, and whether it may be saved.
//
// Only stored fields are typed; key fields are stored fields. A detail line
// is present while some stored field of it holds text: typing into a line
// adds it, and a line whose fields are all emptied (or that is deleted) is
// absent. The lines offered are the present ones and, after the last of
// them, one more, up to the form's line count.
#ifndef BROWSE_ENTRY_H_
#define BROWSE_ENTRY_H_

#include <string>
#include <vector>

#include "engine.h"
#include "form.h"
#include "store_writer.h"

// A field of the document: `line` -1 for the header.
struct EntryField {
  int line = -1;
  int field = 0;
  bool operator==(const EntryField&) const = default;
};

class DocumentEntry {
 public:
  // A blank new document of `form`, which must outlive the entry.
  static DocumentEntry Blank(const Form& form);
  // The document `loaded` (as StoreWriter::Load gives it), to be changed.
  static DocumentEntry Change(const Form& form, LoadedDocument loaded);

  bool is_new() const { return before_.record < 0; }
  // The document as loaded; for a new one, record -1 and no values.
  const LoadedDocument& before() const { return before_; }
  // The values typed so far, shaped as the writer takes them.
  const DocumentValues& values() const { return values_; }
  // The values to store: those typed, with a number field left blank (in
  // the header, or in a present line) as 0. Stored as blanks it would enter
  // the formulas as no operand at all, and shift their arithmetic.
  DocumentValues ToStore() const;
  // True when some value differs from the one the entry began with.
  bool changed() const { return values_.header != start_.header || !SameLines(values_, start_); }

  // The fields to edit, in the order the cursor visits them: the header's
  // stored fields, then those of each line offered, each part by row and
  // column.
  std::vector<EntryField> Order() const;
  // The text of a field; empty for a field that is not stored.
  const std::string& Text(EntryField at) const;
  // Sets the text of a stored field (others are ignored); the line becomes
  // present or absent by the rule above.
  void SetText(EntryField at, std::string text);
  // Empties every field of `line`, which becomes absent.
  void DeleteLine(int line);

  // The record as the reader would read it once stored: each of ToStore()'s values as
  // FormatStoredValue stores it (as typed when it cannot be stored, which
  // Refusal then names), present lines by the rule above.
  TypedRecord Typed() const;
  // Why the document cannot be saved yet, for the message row; empty when it
  // can. Names the first key field in `missing` (from Resolve with Typed()),
  // a present line whose first field is blank, or a value that cannot be
  // stored. The writer's own refusals (a blank key, one already in use) come
  // at the save.
  std::string Refusal(const std::vector<MissingKey>& missing) const;
  // The message for a key field its table lacks.
  std::string MissingKeyText(const MissingKey& key) const;

 private:
  explicit DocumentEntry(const Form& form) : form_(&form) {}
  const FieldDef& Def(EntryField at) const;
  bool Valid(EntryField at) const;  // a field the form has
  static bool SameLines(const DocumentValues& a, const DocumentValues& b);
  void UpdatePresence(int line);

  const Form* form_;
  LoadedDocument before_;
  DocumentValues start_;   // the values the entry began with
  DocumentValues values_;  // the values typed so far
};

// The field editor's type for a field: its own for text (0), numbers (1 to
// 5) and dates (8, 9) and the other types below 10; text (0) for the rest.
int EditorType(const FieldDef& def);

#endif  // BROWSE_ENTRY_H_
