// The query engine's fuzz targets; see engine_targets.h.
#include "engine_targets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "form.h"
#include "formula.h"
#include "lookup.h"
#include "query.h"
#include "store.h"
#include "fuzz_util.h"

namespace {

// Runs one query as `main` would, output to /dev/null; never sleeps (the
// pauses that go with some failures are made by `main` only).
void RunQuery(const std::string& form, const std::vector<std::string>& arguments) {
  Query query;
  Status s = query.Start(form, arguments);
  if (!s.ok()) {
    Check(!s.message().empty(), "a failure without a message");
    return;
  }
  Output out(DevNull());
  s = query.Run(&out);
  if (!s.ok()) Check(!s.message().empty(), "a failure without a message");
}

// A calculated result is "/BY0" or what "%.2lf" writes.
bool LooksCalculated(std::string_view text) {
  if (text == "/BY0" || text == "inf" || text == "-inf" || text == "nan" || text == "-nan")
    return true;
  if (!text.empty() && text[0] == '-') text.remove_prefix(1);
  if (text.size() < 4 || text[text.size() - 3] != '.') return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != text.size() - 3 && (text[i] < '0' || text[i] > '9')) return false;
  }
  return true;
}

}  // namespace

// ---- Form definition

void FuzzFormDefinition(std::string_view data) {
  Form form;
  Status s = ParseFormDefinition("fuzz", std::string(data), &form);
  if (!s.ok()) {
    Check(s.message().rfind("form 'fuzz', ", 0) == 0, "a form error that does not name the file");
    for (unsigned char c : s.message()) Check(c >= 32 && c < 127, "a raw byte in a form error message");
    return;
  }
  Check(form.header_count >= 0 && form.header_count <= kMaxHeaderFields, "header count");
  Check(form.line_count >= 0 && form.line_count <= kMaxDetailLines, "line count");
  Check(form.field_count >= 0 && form.field_count <= kMaxDetailFields, "field count");
  Check(form.ph.size() == static_cast<size_t>(form.header_count), "header definitions");
  Check(form.pd.size() == static_cast<size_t>(form.line_count) * form.field_count,
        "detail definitions");
  int64_t header_length = 6 * static_cast<int64_t>(form.line_count) + 1;
  for (const FieldDef& d : form.ph) {
    Check(d.length >= 0, "negative header length");
    if (IsStoredType(d.type)) header_length += d.length;
    if (IsKeyType(d.type)) {
      const TableDesc* t = form.table(KeyTable(d.type));
      Check(t != nullptr && t->record_length >= 1 && !t->file_name.empty(), "header key table");
    }
  }
  Check(header_length == form.header_record_length, "header record length");
  int64_t detail_length = 6;
  for (int line = 0; line < form.line_count; ++line) {
    for (int f = 0; f < form.field_count; ++f) {
      const FieldDef& d = form.detail(line, f);
      Check(d.length >= 0, "negative detail length");
      if (line == 0 && IsStoredType(d.type)) detail_length += d.length;
      if (line == 0 && IsKeyType(d.type)) Check(form.table(KeyTable(d.type)) != nullptr, "line key table");
    }
  }
  Check(detail_length == form.detail_record_length, "detail record length");
  // What the query builds from a form must cope with it too.
  RecordValues values;
  values.Init(form);
  Formulas formulas;
  formulas.LoadText(form, "fuzz.c0", "h00 h01 +\nd00 d01 *\n", nullptr);
  formulas.ComputeHeader(&values);
  for (int line = 0; line < form.line_count; ++line) formulas.ComputeLine(line, &values);
}

// ---- Formula file and evaluator

namespace {

// Header: 0 code (6), 1 and 2 amounts (8), 3 to 5 calculated, 6 type 33,
// 7 stored (3). Two detail lines of 0 article (4), 1 quantity (6),
// 2 calculated; field 3 is calculated on line 0 only.
constexpr char kFormulaForm[] =
    "8 2 4 0\n"
    "1 1 6 0\n1 1 8 3\n1 1 8 3\n1 1 4 30\n1 1 8 30\n1 1 8 30\n1 1 5 33\n1 1 3 0\n"
    "1 1 4 0\n1 1 6 0\n1 1 8 30\n1 1 5 30\n"
    "1 1 4 0\n1 1 6 0\n1 1 8 30\n1 1 5 0\n";

void AssignLines(std::string_view text, int count, const std::function<FieldBuffer&(int)>& field) {
  std::vector<std::string_view> lines = Split(text, '\n');
  for (int f = 0; f < count && f < static_cast<int>(lines.size()); ++f)
    field(f).Assign(lines[f].data(), lines[f].size());
}

// The evaluator's result must not depend on where its text is cut.
void CheckPiecesAgree(std::string_view text, size_t cut) {
  char whole_bytes[kCalculatedCapacity], piece_bytes[kCalculatedCapacity];
  FieldBuffer whole{whole_bytes, 0, kCalculatedCapacity};
  FieldBuffer pieces{piece_bytes, 0, kCalculatedCapacity};
  int r1 = EvaluatePostfix(text, &whole);
  PostfixEvaluator e;
  e.Reset();
  cut = text.empty() ? 0 : cut % (text.size() + 1);
  e.Feed(text.substr(0, cut));
  e.Feed("");
  e.Feed(text.substr(cut));
  int r2 = e.Finish(&pieces);
  Check(r1 == r2 && whole.text() == pieces.text(), "the evaluator depends on how its text is cut");
  Check(LooksCalculated(whole.text()), "an evaluator result that is not %.2lf text");
}

}  // namespace

void FuzzFormulas(std::string_view data) {
  static const Form form = [] {
    Form f;
    Status s = ParseFormDefinition("fuzz", kFormulaForm, &f);
    Check(s.ok(), "the fixed formula form does not parse");
    f.path = "fuzz";
    return f;
  }();
  std::vector<std::string_view> sections = Sections(data);
  const std::string_view file = sections[0];

  std::vector<FormulaEntry> lines = ReadFormulaEntries(file);
  for (const FormulaEntry& l : lines)
    Check(l.line_number >= 1 && l.text_line_number >= l.line_number, "formula line numbers");

  std::vector<std::string> warnings;
  Formulas formulas;
  formulas.LoadText(form, "fuzz.c0", file, &warnings);
  Check(warnings.size() <= 21, "more than 20 warnings and a count");

  RecordValues values;
  values.Init(form);
  if (sections.size() > 1)
    AssignLines(sections[1], form.header_count, [&](int f) -> FieldBuffer& { return values.head(f); });
  for (int line = 0; line < form.line_count && static_cast<size_t>(line) + 2 < sections.size(); ++line)
    AssignLines(sections[line + 2], form.field_count,
                [&](int f) -> FieldBuffer& { return values.doc(line, f); });
  formulas.ComputeHeader(&values);
  for (int line = 0; line < form.line_count; ++line) formulas.ComputeLine(line, &values);
  for (int f = 0; f < form.header_count; ++f) {
    if (form.ph[f].type == kCalculatedType)
      Check(LooksCalculated(values.head(f).text()), "a header result that is not %.2lf text");
    (void)formulas.Assembled(-1, f, values);
  }
  for (int line = 0; line < form.line_count; ++line) {
    for (int f = 0; f < form.field_count; ++f) {
      if (form.detail(line, f).type == kCalculatedType)
        Check(LooksCalculated(values.doc(line, f).text()), "a line result that is not %.2lf text");
      (void)formulas.Assembled(line, f, values);
    }
  }
  CheckPiecesAgree(file, file.empty() ? 0 : static_cast<unsigned char>(file.back()) * 7u);
}

// ---- A whole query on a fuzzed store

namespace {

struct StoreForm {
  const char* name;
  const char* definition;
  const char* formulas;
  const char* table_files[4];  // table A file, its key index, table B file, its key index
  std::vector<std::string> default_arguments;
};

const std::vector<StoreForm>& StoreForms() {
  static const std::vector<StoreForm> forms = {
      // The example store's form: a header key with a key index, a derived
      // city, calculated totals; detail keys into a second table.
      {"fac",
       "9 4 5 0\n1 1 6 0\n1 10 6 50 clients.db 80 6 30\n2 10 12 40 1 36 20\n1 60 8 8\n"
       "3 10 10 3\n3 30 5 1\n4 10 12 30\n4 30 12 30\n3 50 4 1\n"
       "7 1 8 51 articles.db 60 8 30\n7 10 24 41 0 8 30\n7 35 5 1\n7 41 10 3\n7 52 12 30\n"
       "8 1 8 51\n8 10 24 41\n8 35 5 1\n8 41 10 3\n8 52 12 30\n"
       "9 1 8 51\n9 10 24 41\n9 35 5 1\n9 41 10 3\n9 52 12 30\n"
       "10 1 8 51\n10 10 24 41\n10 35 5 1\n10 41 10 3\n10 52 12 30\n",
       "h06 h04 h04 h05 * 100 / -\nh07 h06 h08 /\nd04 d02 d03 *\n",
       {"clients.db", "clients", "articles.db", "articles"},
       {"h00;", "h01;", "h02;", "h06;", "h07;", "d00;", "d01;", "d04;"}},
      // Lines of different widths, a header field derived from another
      // table than its key's, a type-33 field, keys longer than some records.
      {"mix",
       "6 3 3 0\n1 1 4 0\n1 1 3 52 t.db 10 3 5\n1 1 6 41 1 4 6\n1 1 2 33\n1 1 7 30\n1 1 5 1\n"
       "1 1 3 51 u.db 7 2 4\n1 1 5 42 0 3 4\n1 1 6 30\n"
       "1 1 2 51\n1 1 5 42\n1 1 3 0\n"
       "1 1 3 51\n1 1 5 0\n1 1 6 30\n",
       "h04 h05 h00 +\nd02 d00 h05 * h04 /\n",
       {"t.db", "t", "u.db", "u"},
       {"h00;", "h01|", "h02;", "h03;", "h04;", "d00;", "d01;", "d02;"}},
      // No detail lines; a key without a description, a derived field of
      // negative size, a zero-length field.
      {"hdr",
       "5 0 0 0\n1 1 5 50 k.db 5 0 0\n1 1 8 40 0 2 -3\n1 1 4 30\n1 1 0 0\n1 1 9 40 0 1 7\n",
       "h02 h00 2 *\n",
       {"k.db", "k", "", ""},
       {"h00;", "h01;", "h02;", "h03;", "h04;"}},
  };
  return forms;
}

void CheckIndexAgreesWithScan(std::string_view key_bytes, std::string_view probes, size_t key_length) {
  std::vector<char> slots;
  int64_t count = static_cast<int64_t>((key_bytes.size() + key_length - 1) / key_length);
  slots.assign(static_cast<size_t>(count) * key_length, '\0');
  std::copy(key_bytes.begin(), key_bytes.end(), slots.begin());
  KeyCache cache;
  cache.Assign(std::move(slots), key_length, count);
  for (size_t length : {size_t{0}, key_length / 2, key_length, key_length + 3}) {
    KeyIndex index(cache, length);
    // A scan per probe is slow: a few dozen probes and keys say as much.
    for (size_t at = 0; at < probes.size() && at < 64 * key_length; at += key_length) {
      std::string_view probe = probes.substr(at, key_length + at % 3);
      Check(index.Find(probe) == cache.ScanFor(probe, length), "the key index disagrees with a scan");
    }
    for (int64_t i = 0; i < count && i < 64; ++i) {
      std::string_view key = cache.Key(i, length);
      Check(index.Find(key) == cache.ScanFor(key, length), "the key index disagrees with a scan");
    }
  }
}

}  // namespace

void FuzzStoreQuery(std::string_view data) {
  InScratch here("store");
  static const bool forms_written = [] {
    for (const StoreForm& f : StoreForms()) {
      WriteFile(f.name, f.definition);
      WriteFile(std::string(f.name) + ".c0", f.formulas);
    }
    return true;
  }();
  (void)forms_written;

  std::vector<std::string_view> sections = Sections(data);
  const std::string_view control = sections[0];
  const StoreForm& form =
      StoreForms()[control.empty() ? 0 : static_cast<unsigned char>(control[0]) % StoreForms().size()];
  std::vector<std::string> arguments;
  if (control.size() > 1) {
    for (std::string_view a : Split(control.substr(1), '\t')) arguments.emplace_back(a);
  } else {
    arguments = form.default_arguments;
  }

  const char* const files[] = {"INFO", "HEAD", "DOC", "H",
                               form.table_files[0], form.table_files[1],
                               form.table_files[2], form.table_files[3]};
  for (size_t i = 0; i < std::size(files); ++i) {
    if (files[i][0] == '\0') continue;
    if (i == 0) {
      // INFO as the fuzzer gave it: a count of twelve nines is cut to the
      // records HEAD holds, so it costs no more than HEAD.
      WriteFile(files[i], sections.size() > 1 ? sections[1] : std::string_view());
    } else if (i + 1 < sections.size()) {
      WriteFile(files[i], i + 1 < sections.size() ? sections[i + 1] : std::string_view());
    } else {
      unlink(files[i]);
    }
  }
  RunQuery(form.name, arguments);

  // The key index must give the answers of a front-to-back scan on any keys.
  if (sections.size() > 6 && !sections[6].empty()) {
    const size_t key_length = 1 + (control.empty() ? 0 : static_cast<unsigned char>(control[0]) / 8 % 12);
    CheckIndexAgreesWithScan(sections[6], sections.size() > 2 ? sections[2] : std::string_view(),
                             key_length);
  }
}

// ---- Query arguments on the example store

void FuzzQueryArguments(std::string_view data) {
  InScratch here("arguments");
  static const bool store_copied = [] {
    for (const auto& entry : std::filesystem::directory_iterator(QUERY_EXAMPLES_DIR)) {
      std::filesystem::copy_file(entry.path(), entry.path().filename(),
                                 std::filesystem::copy_options::overwrite_existing);
    }
    return true;
  }();
  (void)store_copied;

  std::vector<std::string> arguments;
  for (std::string_view a : Split(data, '\0')) arguments.emplace_back(a);
  std::string form = "fac";
  if (!arguments.empty() && arguments[0].size() > 1 && arguments[0][0] == '@' &&
      arguments[0].find('/') == std::string::npos) {
    form = arguments[0].substr(1);
    arguments.erase(arguments.begin());
  }
  RunQuery(form, arguments);
}
