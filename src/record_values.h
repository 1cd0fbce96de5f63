// The value buffers of one record: the text of every header field and of
// every field of every detail line, as reading, lookups and formulas leave
// them.
#ifndef QUERY_RECORD_VALUES_H_
#define QUERY_RECORD_VALUES_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "form.h"

// The text of one field value: NUL-free bytes in a buffer sized at start-up.
struct FieldBuffer {
  char* data = nullptr;
  uint32_t size = 0;
  uint32_t capacity = 0;

  std::string_view text() const { return {data, size}; }
  // Replaces the text; anything beyond the capacity or from a NUL on is cut.
  void Assign(const char* bytes, size_t n);
  void Clear() { size = 0; }
};


// The value buffers of the current record: one per header field (`head`) and
// one per field of every detail line (`doc`). A buffer keeps its text until its
// field is read or computed again, as the record loop relies on. The buffers
// of a detail line's stored fields lie one after another in field order,
// each as long as its field, as the fields lie in a record: the record's
// bytes copied whole to the first of them fill them all.
class RecordValues {
 public:
  // Sizes every buffer for the longest text its field can receive.
  void Init(const Form& form);

  int header_count() const { return static_cast<int>(head_.size()); }
  int line_count() const { return line_count_; }
  int field_count() const { return field_count_; }

  FieldBuffer& head(int field) { return head_[field]; }
  FieldBuffer& doc(int line, int field) {
    return doc_[static_cast<size_t>(line) * field_count_ + field];
  }
  // Text of a field, or empty text for a number the part does not have.
  std::string_view HeaderText(int field) const {
    return field >= 0 && field < header_count() ? head_[field].text() : std::string_view();
  }
  std::string_view DetailText(int line, int field) const {
    return field >= 0 && field < field_count_
               ? doc_[static_cast<size_t>(line) * field_count_ + field].text()
               : std::string_view();
  }

  // The lookup table record (slot) the text of field `field` of detail line
  // `line` was last fetched from; -1 when it was fetched from none (its key
  // was missing) or is not fetched from a table at all. Resolving sets it
  // with the text, so that a search on the text can be decided once per
  // table record (SearchMemo).
  int64_t FetchedRecord(int line, int field) const {
    return field >= 0 && field < field_count_ ? fetched_[static_cast<size_t>(line) * field_count_ + field] : -1;
  }
  void SetFetchedRecord(int line, int field, int64_t slot) {
    fetched_[static_cast<size_t>(line) * field_count_ + field] = slot;
  }

 private:
  // The buffers' bytes, left uninitialized: a form may give its fields room
  // for gigabytes that no record fills, and untouched pages cost nothing.
  // A buffer's bytes are read only below its size, after they are written.
  std::unique_ptr<char[]> arena_;
  std::vector<FieldBuffer> head_;
  std::vector<FieldBuffer> doc_;
  std::vector<int64_t> fetched_;  // FetchedRecord, by detail field as doc_
  int line_count_ = 0;
  int field_count_ = 0;
};

#endif  // QUERY_RECORD_VALUES_H_
