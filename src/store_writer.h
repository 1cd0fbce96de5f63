// The store writer: adds documents and changes them, each change atomic and
// durable, in the format the query reads.
//
// Every change takes the writers' lock for its whole length, rolls back a
// change a dead writer left, checks and formats every value before it writes
// anything, and then follows the journal protocol of doc/store_writing.md:
// the journal of the bytes about to be overwritten is made durable first,
// new detail lines are appended to DOC, and only then, under the readers'
// lock, are HEAD, H and INFO overwritten and flushed; removing the journal
// commits. Detail lines are never changed in place: a changed line is a new
// DOC record, so a record a reader has seen never changes under it.
// Values are formatted as stored_value.h says.
#ifndef QUERY_STORE_WRITER_H_
#define QUERY_STORE_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "form.h"
#include "status.h"
#include "store_io.h"

// One detail line: present or absent, and the text of each of its fields
// (by field number; fields that are not stored are ignored).
struct LineValues {
  bool present = false;
  std::vector<std::string> fields;
};

// A document's values as a person enters them: the text of each header
// field by field number, and each detail line by line number. Missing
// entries are empty text and absent lines.
struct DocumentValues {
  std::vector<std::string> header;
  std::vector<LineValues> lines;
};

// A document as Load found it.
struct LoadedDocument {
  int64_t record = -1;
  std::string head_record;        // its HEAD record's bytes: what a save checks
  std::vector<int64_t> pointers;  // its detail pointers
  DocumentValues values;
};

// The most DOC records a six-character pointer can name (0 to 999,999).
constexpr int64_t kMaxDocRecords = 1000000;

class StoreWriter {
 public:
  // Takes the form the store is written with, and the store's directory.
  // An error when the form cannot describe a store this writer keeps exact
  // (a later detail line wider than line 0, a line whose first field is not
  // stored).
  Status Open(const Form& form, std::string dir);
  // The test seam: called after every write, flush, truncation, creation
  // and removal (see store_io.h).
  void SetStepHook(StepHook hook) { hook_ = std::move(hook); }

  // The document count in INFO.
  Status Count(int64_t* count) const;
  // Reads document `record` under the readers' lock.
  Status Load(int64_t record, LoadedDocument* out) const;
  // Adds a new document as record number Count(); `record` receives it.
  // Refused before anything is written: a value that cannot be stored, a
  // blank key (header field 0) or one another document has, a DOC that would
  // need a pointer beyond 999,999.
  Status Add(const DocumentValues& document, int64_t* record);
  // Writes `after` over the document `before` was loaded as: changed header
  // fields, a changed key (checked as for Add, and written to H), lines
  // added, changed (appended to DOC anew) and deleted (made absent). Fields
  // and lines whose values did not change keep their bytes. Refused, with
  // nothing written, when the document changed on disk since it was loaded.
  Status Save(const LoadedDocument& before, const DocumentValues& after);
  // Rolls back a change a writer left unfinished, if any.
  Status Recover();

 private:
  struct Layout;
  struct Change;
  Status Apply(Change* change);
  Status Commit(StoreIo* io, const Change& change);
  Status BuildHeader(const DocumentValues& doc, const LoadedDocument* before, std::string* record) const;
  Status BuildLine(int line, const LineValues& values, int64_t record, std::string* bytes) const;
  Status CheckKey(StoreIo* io, int64_t count, const std::string& record, int64_t self) const;

  const Form* form_ = nullptr;
  std::string dir_;
  StepHook hook_;
  std::vector<int64_t> header_offsets_;  // each header field's offset in HEAD; -1 when not stored
  int64_t pointer_offset_ = 0;           // the first detail pointer's offset
  std::vector<int64_t> line_offsets_;    // line-major, as Form::pd; -1 when not stored
  int64_t key_length_ = 0;               // header field 0's length; 0 when it is not stored
};

// Creates an empty store in `dir` for `form`: INFO counting 0, and empty
// HEAD, DOC and H, each created without following links (O_EXCL) with the
// mode `mode` (before the umask). An error when any of them exists.
Status CreateStore(const std::string& dir, unsigned mode);

#endif  // QUERY_STORE_WRITER_H_
