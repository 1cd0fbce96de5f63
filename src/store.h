// The record store: `INFO`, `HEAD`, `DOC` and the header index `H` in the
// current directory, and the value buffers that receive field text.
//
// Records are fixed-length and reached by offset; every read goes through a
// large buffer of our own filled by positioned reads, so walking the store
// costs no system call per field. Nothing is ever written to the store. The
// file formats are written up in doc/store_format.md.
#ifndef QUERY_STORE_H_
#define QUERY_STORE_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "block_reader.h"
#include "file_io.h"
#include "form.h"
#include "large_buffer.h"
#include "record_values.h"
#include "status.h"
#include "store_lock.h"

class Store {
 public:
  Store() = default;
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;
  ~Store();

  // Opens INFO (checked for write permission, as the store's permission
  // check, but opened read-only and only once it is known to be a regular
  // file), HEAD and DOC, and reads the record count, cut to the records HEAD
  // holds. INFO that fails the check yields the system's "No permission ...
  // \r\n" on standard output and a 1-second pause.
  // The files are those of the store in directory `dir` ("." the working
  // directory).
  Status Open(const Form& form, const std::string& dir = ".");

  int64_t record_count() const { return record_count_; }
  // Odd states of the store found while opening it, one message each.
  const std::vector<std::string>& warnings() const { return warnings_; }

  // The first record at or after n that does not lie wholly in a hole of a
  // sparse HEAD (a region that holds no data and reads as zero bytes), or
  // record_count() when none does. n itself when HEAD has no hole.
  int64_t NextRecordWithData(int64_t n) const {
    return head_is_sparse_ ? SkipHoles(n) : n;
  }

  // Reads from here on are of records before `end` (a walk of its own, a
  // chunk of the records): HEAD's windows stop there instead of reading on
  // past it, and DOC's stop at the first line of record `end`, where the
  // walk's lines end in a store whose lines follow their documents. That
  // place is a bound on reading ahead, nothing more: a walk whose lines lie
  // elsewhere reads them as it would without it.
  void ExpectRecordsBefore(int64_t end);
  // Reads the stored header fields of record n into `values`.
  void ReadHeader(int64_t n, RecordValues* values);
  // Reads the detail pointers, one 6-byte field each, that follow the header
  // fields just read; a pointer field without digits is -1 (absent).
  void ReadPointers(std::vector<int64_t>* pointers);
  // True when the header of record n, just read, began at or beyond the end
  // of HEAD: HEAD has shrunk since the count was cut to it.
  bool HeadEndsBefore(int64_t n) const;
  // Reads line `line` at DOC record `pointer`; false when the line is absent
  // (its field 0 begins with a blank, or lies beyond the end of DOC).
  bool ReadDetailLine(int line, int64_t pointer, RecordValues* values);

 private:
  void ReadStored(BlockReader* file, const FieldDef& def, FieldBuffer* out, bool* at_end);

  // The stored fields of the header, or of one detail line, in record order:
  // a record that lies whole in the read window and holds no line feed or
  // NUL among them is read by copying each field from its place.
  struct StoredField {
    int field;
    uint32_t offset;  // in the record
    uint32_t length;
  };
  struct PartLayout {
    std::vector<StoredField> fields;
    size_t span = 0;  // bytes of all the stored fields together
  };
  static PartLayout LayoutOf(const std::vector<const FieldDef*>& defs);
  // Reads the stored fields of `layout` from the current position of `file`
  // the fast way; false (nothing read, no move) when the record does not
  // allow it. `line` -1 names the header.
  static bool ReadWholeFields(BlockReader* file, const PartLayout& layout, int line, RecordValues* values);
  bool CutCountToHeadData(int64_t counted);
  int64_t FirstLineOf(int64_t n);
  bool TrimZeroEdges(DataExtent* extent);
  int64_t SkipHoles(int64_t n) const;

  const Form* form_ = nullptr;
  int info_fd_ = -1;
  StoreReadLock read_lock_;  // taken for each read of HEAD and DOC
  BlockReader head_file_;
  BlockReader doc_file_;
  int64_t record_count_ = 0;
  std::vector<std::string> warnings_;
  PartLayout header_layout_;
  std::vector<PartLayout> line_layouts_;  // by detail line
  bool head_is_sparse_ = false;          // HEAD has holes
  std::vector<DataExtent> head_data_;    // then: its regions that hold data
  // The pointer that usually comes next: lines are mostly stored one after
  // another, so a pointer field is mostly the last one read, plus one. Its
  // six bytes as the last one's text counted up (blanks then digits), and
  // its value; a field that holds them is read by one comparison.
  uint64_t next_pointer_text_ = 0;
  int64_t next_pointer_value_ = -1;    // -1: no pointer expected
  bool last_pointer_followed_ = true;  // the last pointer read was the one expected
  std::vector<char> pointer_fields_;   // one record's pointer fields, for FirstLineOf
};

#endif  // QUERY_STORE_H_
