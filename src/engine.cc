// The engine shared by readers, and the reader of one thread or cursor.
#include "engine.h"

#include <mutex>
#include <utility>

#include "formula.h"
#include "header_index.h"
#include "lookup.h"
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

struct RecordReader::State {
  const Engine::Loaded* engine = nullptr;
  Formulas formulas;  // the engine's, with this reader's evaluator and deferrals
  std::unique_ptr<LookupTables> lookups;
  std::unique_ptr<Store> store;
  RecordValues values;
  std::vector<int64_t> pointers;  // detail pointers of the record last read; -1 absent
  std::vector<PrefetchedPart> prefetched;  // the header's, then each line's
  std::vector<std::string> warnings;
};

RecordReader::RecordReader() = default;
RecordReader::~RecordReader() = default;

Status RecordReader::Open(const Engine& engine) {
  auto state = std::make_unique<State>();
  Engine::Loaded& loaded = *engine.loaded_;
  state->engine = &loaded;
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
  state->values.Init(form);
  state->pointers.reserve(static_cast<size_t>(form.line_count));
  state->prefetched.resize(static_cast<size_t>(form.line_count) + 1);
  for (int line = -1; line < form.line_count; ++line)
    state->lookups->SizePrefetched(line, &state->prefetched[static_cast<size_t>(line + 1)]);
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

// Reads record n and resolves it. The header, its pointers and every present
// line are read before anything is resolved: lookups and formulas touch only
// value buffers, never the store, and each line only its own buffers, so the
// results are those of resolving each part as soon as it is read, while the
// lookups of the whole record can be fetched from memory together. A record
// that HEAD no longer holds (it shrank while being read) is not resolved.
Status RecordReader::Read(int64_t n, Outcome* outcome) {
  State& st = *state_;
  const Form& form = st.engine->form;
  st.store->ReadHeader(n, &st.values);
  st.store->ReadPointers(&st.pointers);
  *outcome = Outcome();
  outcome->beyond_head = st.store->HeadEndsBefore(n);
  if (outcome->beyond_head) return Status::Ok();
  for (int line = 0; line < form.line_count; ++line) {
    int64_t& pointer = st.pointers[static_cast<size_t>(line)];
    if (pointer < 0) continue;
    if (!st.store->ReadDetailLine(line, pointer, &st.values)) {
      pointer = -1;
      continue;
    }
    outcome->has_detail = true;
  }
  return ResolveLoaded(nullptr);
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
    if (IsStoredType(form.ph[static_cast<size_t>(f)].type)) AssignTyped(typed.header, static_cast<size_t>(f), &st.values.head(f));
  }
  st.pointers.assign(static_cast<size_t>(form.line_count), -1);
  for (int line = 0; line < form.line_count && static_cast<size_t>(line) < typed.lines.size(); ++line) {
    const std::optional<std::vector<std::string>>& fields = typed.lines[static_cast<size_t>(line)];
    if (!fields) continue;
    st.pointers[static_cast<size_t>(line)] = 0;  // present; nothing reads the pointer's value
    for (int f = 0; f < form.field_count; ++f) {
      if (IsStoredType(form.detail(line, f).type)) AssignTyped(*fields, static_cast<size_t>(f), &st.values.doc(line, f));
    }
  }
  if (missing != nullptr) missing->clear();
  Status s = ResolveLoaded(missing);
  if (!s.ok()) return s;
  ComputeDeferred(-1);
  for (int line = 0; line < form.line_count; ++line) {
    if (LinePresent(line)) ComputeDeferred(line);
  }
  return Status::Ok();
}

// The lookups of the whole record are fetched from memory together (see
// Read), then each part is resolved and computed in order.
Status RecordReader::ResolveLoaded(std::vector<MissingKey>* missing) {
  State& st = *state_;
  const Form& form = st.engine->form;
  PrefetchedPart* const header = &st.prefetched[0];
  PrefetchedPart* const lines = header + 1;
  st.lookups->PrefetchKeys(-1, st.values, header);
  for (int line = 0; line < form.line_count; ++line) {
    if (st.pointers[static_cast<size_t>(line)] >= 0) st.lookups->PrefetchKeys(line, st.values, &lines[line]);
  }
  st.lookups->PrefetchRecords(-1, st.values, header);
  for (int line = 0; line < form.line_count; ++line) {
    if (st.pointers[static_cast<size_t>(line)] >= 0) st.lookups->PrefetchRecords(line, st.values, &lines[line]);
  }

  std::vector<int> missing_fields;
  std::vector<int>* const found_missing = missing != nullptr ? &missing_fields : nullptr;
  Status s = st.lookups->ResolveHeader(&st.values, *header, found_missing);
  if (!s.ok()) return s;
  for (int field : missing_fields) missing->push_back({-1, field});
  st.formulas.ComputeHeader(&st.values);
  for (int line = 0; line < form.line_count; ++line) {
    if (st.pointers[static_cast<size_t>(line)] < 0) continue;
    missing_fields.clear();
    if (!(s = st.lookups->ResolveLine(line, &st.values, lines[line], found_missing)).ok()) return s;
    for (int field : missing_fields) missing->push_back({line, field});
    st.formulas.ComputeLine(line, &st.values);
  }
  return Status::Ok();
}

void RecordReader::ComputeForOutput(int line) {
  if (line < 0) {
    state_->formulas.ComputeDeferredHeader(&state_->values, /*printed_only=*/true);
  } else {
    state_->formulas.ComputeDeferredLine(line, &state_->values, /*printed_only=*/true);
  }
}

void RecordReader::ComputeDeferred(int line) {
  if (line < 0) {
    state_->formulas.ComputeDeferredHeader(&state_->values);
  } else {
    state_->formulas.ComputeDeferredLine(line, &state_->values);
  }
}

const RecordValues& RecordReader::values() const { return state_->values; }

bool RecordReader::LinePresent(int line) const {
  const std::vector<int64_t>& pointers = state_->pointers;
  return line >= 0 && line < static_cast<int>(pointers.size()) && pointers[static_cast<size_t>(line)] >= 0;
}

int64_t RecordReader::record_count() const { return state_->store->record_count(); }
int64_t RecordReader::NextRecordWithData(int64_t n) const { return state_->store->NextRecordWithData(n); }
const std::vector<std::string>& RecordReader::warnings() const { return state_->warnings; }
