// The query engine for programs: a form and its store loaded once, read by
// as many readers as there are threads, cursors or requests.
//
//   std::unique_ptr<Engine> engine;
//   std::vector<std::string> warnings;
//   Status s = Engine::Load({"examples/invoices", "fac"}, &engine, &warnings);
//   Selection selection = Selection::FromText({"h00;", "h02;", "d01;tornillo"});
//   RecordReader reader;
//   s = reader.Open(*engine);
//   for (int64_t n : range) { s = reader.ReadRecord(n, &read); ... reader.values() ... }
//
// An Engine never changes once loaded, and may be shared by any number of
// threads. A RecordReader is one thread's or one cursor's: it has its own
// file descriptors, its own value buffers and its own lazily read lookup
// keys, so readers never wait for each other and each gets exactly the
// results a lone reader gets. Nothing here installs a signal handler or
// changes the working directory.
#ifndef QUERY_ENGINE_H_
#define QUERY_ENGINE_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "record_values.h"
#include "selection.h"
#include "status.h"

struct EngineOptions {
  // The directory that holds the store (INFO, HEAD, DOC, H) and in which the
  // form's relative table names are found; "." is the working directory.
  std::string store_dir = ".";
  // The form's definition file, as a path from the working directory; its
  // masks and formula file are found by appending a suffix to it.
  std::string form_path;
};

// The range of records a selection examines: [first, end).
struct RecordRange {
  int64_t first = 0;
  int64_t end = 0;
  int64_t size() const { return end > first ? end - first : 0; }
};

class Engine {
 public:
  // Loads the form, its formulas and the descriptors of its lookup tables,
  // checks that the tables and the store can be opened, and reads the record
  // count, in that order; the first failure is returned with the system's
  // texts and exit status. Odd input that is not fatal is added to `warnings`.
  static Status Load(const EngineOptions& options, std::unique_ptr<Engine>* engine,
                     std::vector<std::string>* warnings);
  ~Engine();

  const Form& form() const;
  const EngineOptions& options() const;
  // The record count at loading, cut to what HEAD held then.
  int64_t record_count() const;
  // The records `selection` examines: all of them, or the one record the key
  // shortcut finds in H when only the first argument carries a search text.
  RecordRange RangeFor(const Selection& selection) const;
  // The record whose key in H equals `key` (blank-padded to header field 0's
  // length), among the first record_count(); -1 when none does.
  int64_t FindRecordByKey(std::string_view key) const;
  // True when what a record shows depends on that record alone, so that
  // readers may read ranges of records apart and in any order. False when
  // some formula reads a calculated field that still holds an earlier
  // record's text (a running total), or a detail line's field 0 is not read
  // from the store.
  bool RecordsIndependent() const;

  struct Loaded;  // what Load reads, shared by the readers

 private:
  explicit Engine(std::unique_ptr<Loaded> loaded);
  std::unique_ptr<Loaded> loaded_;
  friend class RecordReader;
};

// A record's stored fields as a program holds them before they are stored
// (a document being typed in): the text of each header field by number, and
// for each detail line, when present, the text of each of its fields.
struct TypedRecord {
  std::vector<std::string> header;
  std::vector<std::optional<std::vector<std::string>>> lines;
};

// A key field whose lookup table lacks its key: `line` -1 for the header.
struct MissingKey {
  int line = -1;
  int field = 0;
  bool operator==(const MissingKey&) const = default;
};

class RecordReader {
 public:
  RecordReader();
  ~RecordReader();
  RecordReader(const RecordReader&) = delete;
  RecordReader& operator=(const RecordReader&) = delete;

  // Opens the store for this reader and sizes its value buffers; the engine
  // must outlive the reader. The reader sees the store's record count as it
  // is now (a store that grew since the engine was loaded shows its new
  // records), and fails as the engine's loading fails when the store has
  // gone; but the first reader opened after Load takes over the files Load
  // opened, as they were then, so that a program with one reader opens each
  // file once. A long-running program opens and drops one reader after Load.
  Status Open(const Engine& engine);
  // Calculated fields that only the output of `selection` reads are left
  // for ComputeForOutput (a saving when most records do not match). Without
  // this call every field is computed by ReadRecord.
  void DeferFieldsOutputOnly(const Selection& selection);
  // For a walk over many records, shared by `parts` readers of one engine:
  // makes ready now what the lookups would build in the first records
  // anyway (indexes, tables read whole), first for the tables this reader's
  // `part` (0 to parts - 1) stands for, then taking the other readers'. The
  // readers build different tables at the same time instead of waiting for
  // each other in turn, and none starts its walk before every table is
  // ready. What fails here is left for the lookups to meet in record order.
  void PrepareLookupsForLongWalk(int part, int parts);

  // Reads to come are of records [first, end), mostly in order (a walk):
  // ReadRecord then reads the next two records ahead and starts fetching their
  // lookups from memory while it resolves the one asked for, so that those
  // fetches overlap the work. Only where each record's results are its own
  // (Engine::RecordsIndependent); without this call, or for a single
  // record, nothing is read ahead.
  void ExpectRecords(RecordRange range);

  // What one ReadRecord found.
  struct Outcome {
    bool beyond_head = false;  // HEAD no longer holds the record; nothing was read
    bool has_detail = false;   // some detail line is present
  };
  // Reads record n into values(): stored fields, lookups, and calculated
  // fields (but those deferred). A table that cannot be read is a failure.
  Status ReadRecord(int64_t n, Outcome* outcome);
  // Puts the stored fields of `typed` into values() as ReadRecord puts a stored
  // record's (text beyond a field's room is cut; fields that are not stored
  // and entries beyond the form's counts are ignored; missing entries are
  // empty text and absent lines), then resolves lookups and computes every
  // calculated field, deferred ones included, as ReadRecord does. The text given
  // should be the bytes the fields would be stored as, so that the results
  // are those a reader gets once the record is stored. `missing` (when
  // given) receives the key fields whose table lacks their key.
  Status Resolve(const TypedRecord& typed, std::vector<MissingKey>* missing);
  // Computes the deferred fields of the header (line -1) or of present
  // detail line `line` of the record last read that the selection given to
  // DeferFieldsOutputOnly prints: a deferred field nothing prints is read by
  // nothing.
  void ComputeForOutput(int line);
  // Computes every deferred field of the header or of line `line`, for a
  // program that shows the whole record.
  void ComputeDeferred(int line);

  const RecordValues& values() const;
  // Whether detail line `line` of the record last read is present.
  bool LinePresent(int line) const;
  // Whether present detail line `line` of the record last read is printed
  // under `selection`: Selection::AcceptsLine's answer. A search on a field
  // fetched from a lookup table is run once per table record and its
  // verdict remembered, for as long as the reader is given the same
  // selection (or a copy of it).
  bool AcceptsLine(const Selection& selection, int line);
  // For a walk that uses only the lines `selection` accepts (a print loop):
  // from now on, until called with nullptr, ReadRecord leaves unresolved each
  // present line that a remembered verdict of AcceptsLine already rejects.
  // Its values are then left as they were, and AcceptsLine says false for
  // it (asked with another selection too: ask with this one). Only where
  // records are independent (Engine::RecordsIndependent); elsewhere every
  // line is resolved. `selection` must outlive the call that takes it back.
  // Both calls also trade remembered verdicts with the engine's other
  // readers given the same selection: what each learned reaches the others
  // at these two points, never while they walk.
  void ResolveOnlyLinesAcceptedBy(const Selection* selection);
  // The record count this reader sees, and the first record at or after n
  // that holds data (records wholly in holes of a sparse HEAD are skipped).
  int64_t record_count() const;
  int64_t NextRecordWithData(int64_t n) const;
  // Messages about the store found when it was opened.
  const std::vector<std::string>& warnings() const;

 private:
  struct State;
  // Resolves the record now in values(): lookups, then formulas;
  // `while_walking` for ReadRecord, whose callers may ask that rejected lines be
  // skipped.
  Status ResolveLoaded(std::vector<MissingKey>* missing, bool while_walking);
  // The same once its lookups' prefetches are done.
  Status ResolvePrefetched(std::vector<MissingKey>* missing, bool while_walking);
  std::unique_ptr<State> state_;
};

#endif  // QUERY_ENGINE_H_
