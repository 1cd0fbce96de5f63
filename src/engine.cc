// The engine shared by readers, and the reader of one thread or cursor.
#include "engine.h"

#include <mutex>
#include <utility>

#include "formula.h"
#include "header_index.h"
#include "lookup.h"
#include "search_memo.h"
#include "store.h"
#include "store_files.h"
#include "tcp.h"

// What loading read. The form and the compiled formulas are only read from
// then on; each reader copies the formulas for its own evaluator. Lookup
// indexes and tables read whole are built once, by the first reader that
// needs each, and shared by all (SharedLookups). The tables
// and the store that loading opened to check them are handed, once, to the
// first reader that opens, so that a program with one reader opens each
// file once.
struct Engine::Loaded {
  EngineOptions options;
  Form form;
  Formulas formulas;
  int64_t record_count = 0;
  bool records_independent = false;

  SharedLookups shared_lookups;  // key indexes and tables read whole, built once for all readers
  SharedVerdicts shared_verdicts;  // search verdicts of the readers given the same selection

  std::mutex spare_mutex;  // guards the two below
  std::unique_ptr<LookupTables> spare_lookups;
  std::unique_ptr<Store> spare_store;
};

namespace {

bool FieldZeroOfEveryLineIsStored(const Form& form) {
  if (form.field_count == 0) return true;
  for (int line = 0; line < form.line_count; ++line)
    if (!IsStoredType(form.detail(line, 0).type)) return false;
  return true;
}

}  // namespace

Status Engine::Load(const EngineOptions& options, std::unique_ptr<Engine>* engine,
                    std::vector<std::string>* warnings) {
  auto loaded = std::make_unique<Loaded>();
  loaded->options = options;
  Form& form = loaded->form;
  Status s = LoadForm(options.form_path, &form);
  if (!s.ok()) return s;
  if (!(s = loaded->formulas.Load(form, warnings)).ok()) return s;
  const std::string trace = "ABIERTO E INICIALIZADO FORM " + options.form_path + " " +
                            std::to_string(form.header_count) + " " + std::to_string(form.line_count) + " " +
                            std::to_string(form.field_count);
  dbgr(1, trace.c_str());
  loaded->spare_lookups = std::make_unique<LookupTables>();
  if (!(s = loaded->spare_lookups->Load(form, options.store_dir, &loaded->shared_lookups)).ok()) return s;
  loaded->spare_store = std::make_unique<Store>();
  if (!(s = loaded->spare_store->Open(form, options.store_dir)).ok()) return s;
  for (const std::string& w : loaded->spare_store->warnings()) warnings->push_back(w);
  loaded->record_count = loaded->spare_store->record_count();
  loaded->records_independent = !loaded->formulas.SeesEarlierRecords(form) && FieldZeroOfEveryLineIsStored(form);
  engine->reset(new Engine(std::move(loaded)));
  return Status::Ok();
}

Engine::Engine(std::unique_ptr<Loaded> loaded) : loaded_(std::move(loaded)) {}
Engine::~Engine() = default;

const Form& Engine::form() const { return loaded_->form; }
const EngineOptions& Engine::options() const { return loaded_->options; }
int64_t Engine::record_count() const { return loaded_->record_count; }
bool Engine::RecordsIndependent() const { return loaded_->records_independent; }

RecordRange Engine::RangeFor(const Selection& selection) const {
  const RecordRange all{0, loaded_->record_count};
  if (loaded_->form.header_count == 0) return all;
  const int key_length = loaded_->form.ph[0].length;
  const std::string probe = selection.KeyShortcutProbe(key_length);
  if (probe.empty()) return all;
  const int64_t found = FindInHeaderIndex(StoreFilePath(loaded_->options.store_dir, kHeaderIndexFile), probe,
                                          key_length, loaded_->record_count);
  return found >= 0 ? RecordRange{found, found + 1} : all;
}

int64_t Engine::FindRecordByKey(std::string_view key) const {
  if (loaded_->form.header_count == 0) return -1;
  const int key_length = loaded_->form.ph[0].length;
  if (key_length <= 0 || key.size() > static_cast<size_t>(key_length)) return -1;
  std::string probe(key);
  probe.resize(static_cast<size_t>(key_length), ' ');
  return FindInHeaderIndex(StoreFilePath(loaded_->options.store_dir, kHeaderIndexFile), probe, key_length,
                           loaded_->record_count);
}

// ---- RecordReader

// One record's buffers: what was read of it and what the prefetches of its
// lookups found. A reader has three: the record last read, which values()
// shows, and the two read ahead of it; they change roles by pointer.
struct RecordSlot {
  int64_t n = -1;  // the record read ahead into it; -1 none
  RecordValues values;
  std::vector<int64_t> pointers;  // detail pointers; -1 absent
  std::vector<PrefetchedPart> prefetched;  // the header's, then each line's
  RecordReader::Outcome outcome;
  bool found = false;  // PrefetchRecords done; else only PrefetchKeys
  // By line: a present line left unresolved, its remembered verdict
  // rejecting it (RecordReader::ResolveOnlyLinesAcceptedBy).
  std::vector<uint8_t> unresolved;
};

struct RecordReader::State {
  const Engine::Loaded* engine = nullptr;
  Formulas formulas;  // the engine's, with this reader's evaluator and deferrals
  std::unique_ptr<LookupTables> lookups;
  std::unique_ptr<Store> store;
  std::vector<std::string> warnings;
  RecordSlot slots[3];
  RecordSlot* current = &slots[0];  // the record last read
  // Records read ahead of the one asked for: the next, its records found,
  // and the one after, its keys hashed. Only below read_ahead_end.
  RecordSlot* ahead[2] = {&slots[1], &slots[2]};
  int64_t read_ahead_end = 0;
  SearchMemo search_memo;  // verdicts of the selection last given to AcceptsLine
  SharedVerdicts* shared_verdicts = nullptr;  // the engine's, shared with its other readers
  // While set, ReadRecord leaves unresolved the lines its verdicts reject.
  const Selection* resolve_only_accepted_by = nullptr;

  State() = default;
  State(const State&) = delete;  // the pointers above point into it
  State& operator=(const State&) = delete;

  void Size(const Form& form, RecordSlot* slot) const {
    slot->values.Init(form);
    slot->pointers.reserve(static_cast<size_t>(form.line_count));
    slot->prefetched.resize(static_cast<size_t>(form.line_count) + 1);
    slot->unresolved.assign(static_cast<size_t>(form.line_count), 0);
    for (int line = -1; line < form.line_count; ++line)
      lookups->SizePrefetched(line, &slot->prefetched[static_cast<size_t>(line + 1)]);
  }
  // Reads record n's stored fields and pointers into `slot`.
  void Load(int64_t n, RecordSlot* slot);
  // The two prefetch stages of a record's lookups.
  void PrefetchKeys(RecordSlot* slot) const;
  void PrefetchRecords(RecordSlot* slot) const;
  // Reads record n into `slot` and hashes its keys; none at or past the end.
  void Fill(int64_t n, RecordSlot* slot);
};

RecordReader::RecordReader() = default;
RecordReader::~RecordReader() = default;

Status RecordReader::Open(const Engine& engine) {
  auto state = std::make_unique<State>();
  Engine::Loaded& loaded = *engine.loaded_;
  state->engine = &loaded;
  state->shared_verdicts = &loaded.shared_verdicts;
  state->formulas = loaded.formulas;
  {
    std::lock_guard<std::mutex> lock(loaded.spare_mutex);
    state->lookups = std::move(loaded.spare_lookups);
    state->store = std::move(loaded.spare_store);
  }
  const Form& form = loaded.form;
  Status s;
  if (state->lookups == nullptr) {
    state->lookups = std::make_unique<LookupTables>();
    if (!(s = state->lookups->Load(form, loaded.options.store_dir, &loaded.shared_lookups)).ok()) return s;
  }
  if (state->store == nullptr) {
    state->store = std::make_unique<Store>();
    if (!(s = state->store->Open(form, loaded.options.store_dir)).ok()) return s;
  }
  state->warnings = state->store->warnings();
  state->Size(form, state->current);
  state_ = std::move(state);
  return Status::Ok();
}

void RecordReader::DeferFieldsOutputOnly(const Selection& selection) {
  state_->formulas.DeferFieldsReadOnlyByOutput(state_->engine->form, selection.SearchedFields());
  std::vector<int> header_printed, detail_printed;
  for (const QueryArgument& arg : selection.arguments()) {
    if (arg.IsHeader()) header_printed.push_back(arg.field);
    if (arg.IsDetail()) detail_printed.push_back(arg.field);
  }
  state_->formulas.MarkPrinted(header_printed, detail_printed);
}

void RecordReader::PrepareLookupsForLongWalk(int part, int parts) { state_->lookups->PrepareForLongWalk(part, parts); }

void RecordReader::ExpectRecords(RecordRange range) {
  State& st = *state_;
  st.store->ExpectRecordsBefore(range.end);
  st.read_ahead_end = 0;
  st.ahead[0]->n = st.ahead[1]->n = -1;
  if (!st.engine->records_independent || range.size() < 2) return;
  for (RecordSlot* slot : st.ahead) {
    if (slot->prefetched.empty()) st.Size(st.engine->form, slot);
  }
  st.read_ahead_end = range.end;
}

// Reads record n. The header, its pointers and every present line are read
// before anything is resolved: lookups and formulas touch only value
// buffers, never the store, and each line only its own buffers, so the
// results are those of resolving each part as soon as it is read, while the
// lookups of the whole record can be fetched from memory together. A record
// that HEAD no longer holds (it shrank while being read) is not resolved.
void RecordReader::State::Load(int64_t n, RecordSlot* slot) {
  const Form& form = engine->form;
  Outcome& outcome = slot->outcome;
  store->ReadHeader(n, &slot->values);
  store->ReadPointers(&slot->pointers);
  outcome = Outcome();
  outcome.beyond_head = store->HeadEndsBefore(n);
  if (outcome.beyond_head) return;
  for (int line = 0; line < form.line_count; ++line) {
    int64_t& pointer = slot->pointers[static_cast<size_t>(line)];
    if (pointer < 0) continue;
    if (!store->ReadDetailLine(line, pointer, &slot->values)) {
      pointer = -1;
      continue;
    }
    outcome.has_detail = true;
  }
}

void RecordReader::State::PrefetchKeys(RecordSlot* slot) const {
  lookups->PrefetchKeys(-1, slot->values, &slot->prefetched[0]);
  for (int line = 0; line < engine->form.line_count; ++line)
    if (slot->pointers[static_cast<size_t>(line)] >= 0)
      lookups->PrefetchKeys(line, slot->values, &slot->prefetched[static_cast<size_t>(line) + 1]);
}

void RecordReader::State::PrefetchRecords(RecordSlot* slot) const {
  lookups->PrefetchRecords(-1, slot->values, &slot->prefetched[0]);
  for (int line = 0; line < engine->form.line_count; ++line)
    if (slot->pointers[static_cast<size_t>(line)] >= 0)
      lookups->PrefetchRecords(line, slot->values, &slot->prefetched[static_cast<size_t>(line) + 1]);
  slot->found = true;
}

void RecordReader::State::Fill(int64_t n, RecordSlot* slot) {
  slot->n = -1;
  if (n < 0 || n >= read_ahead_end) return;
  Load(n, slot);
  slot->n = n;
  slot->found = false;
  if (!slot->outcome.beyond_head) PrefetchKeys(slot);
}

// Reads record n and resolves it. Within the range given to ExpectRecords,
// the record usually was read ahead already, its lookups fetched from memory
// since; the next record's are then found and the one after that read, so
// that their fetches run while this one is resolved.
Status RecordReader::ReadRecord(int64_t n, Outcome* outcome) {
  State& st = *state_;
  if (n >= st.read_ahead_end) {
    st.Load(n, st.current);
    *outcome = st.current->outcome;
    return outcome->beyond_head ? Status::Ok() : ResolveLoaded(nullptr, /*while_walking=*/true);
  }
  if (st.ahead[0]->n == n) {
    // The slots turn: the next record becomes the current one, the one
    // after it the next, and the old current one is free.
    std::swap(st.current, st.ahead[0]);
    std::swap(st.ahead[0], st.ahead[1]);
    st.ahead[1]->n = -1;
  } else {
    st.Load(n, st.current);
    st.current->found = false;
    if (!st.current->outcome.beyond_head) st.PrefetchKeys(st.current);
  }
  st.current->n = -1;
  *outcome = st.current->outcome;
  if (outcome->beyond_head) {
    st.ahead[0]->n = st.ahead[1]->n = -1;
    return Status::Ok();
  }
  if (!st.current->found) st.PrefetchRecords(st.current);
  // The next record: its records found (its keys were hashed a record ago).
  const int64_t first = st.store->NextRecordWithData(n + 1);
  if (st.ahead[0]->n != first) {
    if (st.ahead[1]->n == first) {
      std::swap(st.ahead[0], st.ahead[1]);
    } else {
      st.Fill(first, st.ahead[0]);
    }
  }
  RecordSlot* next = st.ahead[0];
  const bool next_held = next->n >= 0 && !next->outcome.beyond_head;
  if (next_held && !next->found) st.PrefetchRecords(next);
  // The one after it: read, its keys hashed.
  const int64_t second = next_held ? st.store->NextRecordWithData(next->n + 1) : -1;
  if (st.ahead[1]->n != second) st.Fill(second, st.ahead[1]);
  return ResolvePrefetched(nullptr, /*while_walking=*/true);
}

namespace {

void AssignTyped(const std::vector<std::string>& texts, size_t f, FieldBuffer* out) {
  if (f < texts.size()) {
    out->Assign(texts[f].data(), texts[f].size());
  } else {
    out->Clear();
  }
}

}  // namespace

Status RecordReader::Resolve(const TypedRecord& typed, std::vector<MissingKey>* missing) {
  State& st = *state_;
  const Form& form = st.engine->form;
  for (int f = 0; f < form.header_count; ++f) {
    if (IsStoredType(form.ph[static_cast<size_t>(f)].type)) AssignTyped(typed.header, static_cast<size_t>(f), &st.current->values.head(f));
  }
  st.current->pointers.assign(static_cast<size_t>(form.line_count), -1);
  for (int line = 0; line < form.line_count && static_cast<size_t>(line) < typed.lines.size(); ++line) {
    const std::optional<std::vector<std::string>>& fields = typed.lines[static_cast<size_t>(line)];
    if (!fields) continue;
    st.current->pointers[static_cast<size_t>(line)] = 0;  // present; nothing reads the pointer's value
    for (int f = 0; f < form.field_count; ++f) {
      if (IsStoredType(form.detail(line, f).type)) AssignTyped(*fields, static_cast<size_t>(f), &st.current->values.doc(line, f));
    }
  }
  if (missing != nullptr) missing->clear();
  Status s = ResolveLoaded(missing, /*while_walking=*/false);
  if (!s.ok()) return s;
  ComputeDeferred(-1);
  for (int line = 0; line < form.line_count; ++line) {
    if (LinePresent(line)) ComputeDeferred(line);
  }
  return Status::Ok();
}

// The lookups of the whole record are fetched from memory together (see
// ReadRecord), then each part is resolved and computed in order.
Status RecordReader::ResolveLoaded(std::vector<MissingKey>* missing, bool while_walking) {
  State& st = *state_;
  st.PrefetchKeys(st.current);
  st.PrefetchRecords(st.current);
  return ResolvePrefetched(missing, while_walking);
}

// Resolves and computes each part of the record in order, its lookups'
// prefetches done. While walking for ResolveOnlyLinesAcceptedBy, a line
// that a remembered verdict rejects is skipped: nothing reads its values,
// since no formula reads another line or an earlier record.
Status RecordReader::ResolvePrefetched(std::vector<MissingKey>* missing, bool while_walking) {
  State& st = *state_;
  const Form& form = st.engine->form;
  PrefetchedPart* const header = &st.current->prefetched[0];
  PrefetchedPart* const lines = header + 1;
  // Only the verdicts of the selection given are taken (AcceptsLine may
  // have been asked with another since).
  const bool skip_rejected = while_walking && st.resolve_only_accepted_by != nullptr &&
                             st.search_memo.selection_id() == st.resolve_only_accepted_by->id();

  std::vector<int> missing_fields;
  std::vector<int>* const found_missing = missing != nullptr ? &missing_fields : nullptr;
  Status s = st.lookups->ResolveHeader(&st.current->values, *header, found_missing);
  if (!s.ok()) return s;
  for (int field : missing_fields) missing->push_back({-1, field});
  st.formulas.ComputeHeader(&st.current->values);
  for (int line = 0; line < form.line_count; ++line) {
    if (st.current->pointers[static_cast<size_t>(line)] < 0) continue;
    uint8_t& unresolved = st.current->unresolved[static_cast<size_t>(line)];
    unresolved = skip_rejected && st.search_memo.RejectsBeforeResolving(line, lines[line], *st.lookups);
    if (unresolved) continue;
    missing_fields.clear();
    if (!(s = st.lookups->ResolveLine(line, &st.current->values, lines[line], found_missing)).ok()) return s;
    for (int field : missing_fields) missing->push_back({line, field});
    st.formulas.ComputeLine(line, &st.current->values);
  }
  return Status::Ok();
}

void RecordReader::ComputeForOutput(int line) {
  if (line < 0) {
    state_->formulas.ComputeDeferredHeader(&state_->current->values, /*printed_only=*/true);
  } else {
    state_->formulas.ComputeDeferredLine(line, &state_->current->values, /*printed_only=*/true);
  }
}

void RecordReader::ComputeDeferred(int line) {
  if (line < 0) {
    state_->formulas.ComputeDeferredHeader(&state_->current->values);
  } else {
    state_->formulas.ComputeDeferredLine(line, &state_->current->values);
  }
}

const RecordValues& RecordReader::values() const { return state_->current->values; }

bool RecordReader::AcceptsLine(const Selection& selection, int line) {
  State& st = *state_;
  if (st.search_memo.selection_id() != selection.id()) st.search_memo.Plan(selection, st.engine->form, *st.lookups, st.shared_verdicts);
  // A line left unresolved was rejected by a remembered verdict.
  if (st.current->unresolved[static_cast<size_t>(line)]) return false;
  return selection.AcceptsLine(st.engine->form, st.current->values, line, &st.search_memo);
}

void RecordReader::ResolveOnlyLinesAcceptedBy(const Selection* selection) {
  State& st = *state_;
  st.resolve_only_accepted_by = st.engine->records_independent ? selection : nullptr;
  if (selection != nullptr && st.search_memo.selection_id() != selection->id())
    st.search_memo.Plan(*selection, st.engine->form, *st.lookups, st.shared_verdicts);
  // A walk begins or ends here: trade verdicts with the engine's other
  // readers, which a walk itself never touches.
  st.search_memo.Trade();
}

bool RecordReader::LinePresent(int line) const {
  const std::vector<int64_t>& pointers = state_->current->pointers;
  return line >= 0 && line < static_cast<int>(pointers.size()) && pointers[static_cast<size_t>(line)] >= 0;
}

int64_t RecordReader::record_count() const { return state_->store->record_count(); }
int64_t RecordReader::NextRecordWithData(int64_t n) const { return state_->store->NextRecordWithData(n); }
const std::vector<std::string>& RecordReader::warnings() const { return state_->warnings; }
