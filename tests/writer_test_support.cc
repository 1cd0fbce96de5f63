#include "writer_test_support.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "store_gen.h"

uint64_t TestRandom::Next() {
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void WriteReferenceStore(const std::string& dir, int64_t documents, int lines) {
  StoreParams p;
  p.documents = documents;
  p.lines = lines;
  p.clients = 50;
  p.articles = 50;
  StoreStats stats;
  std::string error;
  if (!WriteStore(p, dir, &stats, &error)) {
    std::fprintf(stderr, "cannot write the reference store: %s\n", error.c_str());
    std::abort();
  }
}

void CopyStore(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  for (const auto& e : std::filesystem::directory_iterator(from))
    if (e.is_regular_file())
      std::filesystem::copy_file(e.path(), to + "/" + e.path().filename().string(),
                                 std::filesystem::copy_options::overwrite_existing);
}

Form LoadFac(const std::string& dir) {
  Form form;
  if (!LoadForm(dir + "/fac", &form).ok()) std::abort();
  return form;
}

const char* ChangeName(ChangeKind kind) {
  static const char* const kNames[] = {"Add", "Field", "AddLine", "ChangeLine", "DeleteLine", "Key"};
  return kNames[static_cast<int>(kind)];
}

namespace {

std::string Format(const char* format, int64_t a, int64_t b = 0) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

LineValues RandomLine(TestRandom* rnd) {
  LineValues line;
  line.present = true;
  line.fields = {Format("A%07" PRId64, rnd->Between(0, 49)), "", Format("%" PRId64, rnd->Between(1, 500)),
                 Format("%" PRId64 ".%02" PRId64, rnd->Between(0, 900), rnd->Between(0, 99)), ""};
  return line;
}

}  // namespace

DocumentValues RandomDocument(TestRandom* rnd, const std::string& key, int lines) {
  DocumentValues d;
  d.header = {key,
              Format("C%06" PRId64, rnd->Between(0, 49)),
              "",
              Format("%02" PRId64, rnd->Between(1, 28)) + Format("%02" PRId64, rnd->Between(1, 12)) + "2024",
              Format("%" PRId64 ".%02" PRId64, rnd->Between(1, 99999), rnd->Between(0, 99)),
              Format("%" PRId64, rnd->Between(0, 30)),
              ""};
  d.lines.resize(static_cast<size_t>(lines));
  const int64_t present = rnd->Between(1, lines);
  for (int64_t l = 0; l < present; ++l) d.lines[static_cast<size_t>(l)] = RandomLine(rnd);
  return d;
}

bool ChangeDocument(TestRandom* rnd, ChangeKind kind, int64_t unique, DocumentValues* doc) {
  std::vector<size_t> present, absent;
  for (size_t l = 0; l < doc->lines.size(); ++l) (doc->lines[l].present ? present : absent).push_back(l);
  switch (kind) {
    case ChangeKind::kAdd:
      return false;
    case ChangeKind::kField:
      doc->header[4] = Format("%" PRId64 ".%02" PRId64, rnd->Between(1, 99999), rnd->Between(0, 99));
      return true;
    case ChangeKind::kAddLine:
      if (absent.empty()) return false;
      doc->lines[absent[static_cast<size_t>(rnd->Between(0, static_cast<int64_t>(absent.size()) - 1))]] = RandomLine(rnd);
      return true;
    case ChangeKind::kChangeLine:
    case ChangeKind::kDeleteLine: {
      if (present.empty()) return false;
      LineValues& line = doc->lines[present[static_cast<size_t>(rnd->Between(0, static_cast<int64_t>(present.size()) - 1))]];
      if (kind == ChangeKind::kDeleteLine) {
        line = LineValues();
      } else {
        line.fields[2] = Format("%" PRId64, rnd->Between(501, 999));
      }
      return true;
    }
    case ChangeKind::kKey:
      doc->header[0] = Format("K%07" PRId64, unique % 10000000);
      return true;
  }
  return false;
}

std::string Describe(const Form& form, const DocumentValues& doc) {
  std::string out;
  for (size_t f = 0; f < form.ph.size(); ++f)
    if (IsStoredType(form.ph[f].type)) out += (f < doc.header.size() ? doc.header[f] : "") + "|";
  for (int l = 0; l < form.line_count; ++l) {
    out += " #";
    if (l >= static_cast<int>(doc.lines.size()) || !doc.lines[static_cast<size_t>(l)].present) continue;
    const LineValues& line = doc.lines[static_cast<size_t>(l)];
    for (int f = 0; f < form.field_count; ++f)
      if (IsStoredType(form.detail(l, f).type))
        out += (f < static_cast<int>(line.fields.size()) ? line.fields[static_cast<size_t>(f)] : "") + "|";
  }
  return out;
}

std::vector<std::string> DescribeStore(const Form& form, const std::string& dir) {
  StoreWriter writer;
  std::vector<std::string> out;
  int64_t count = 0;
  if (!writer.Open(form, dir).ok() || !writer.Count(&count).ok()) return {"cannot be read"};
  for (int64_t n = 0; n < count; ++n) {
    LoadedDocument doc;
    Status s = writer.Load(n, &doc);
    out.push_back(s.ok() ? Describe(form, doc.values) : "cannot be loaded: " + s.message());
  }
  return out;
}
