#include "document.h"

#include <cstdio>

#include "html.h"
#include "row_format.h"

namespace {

int KeyLength(const Form& form) { return form.ph.empty() ? 0 : std::max<int>(form.ph[0].length, 0); }

bool HoldsKey(const RecordValues& values, std::string_view padded) {
  const std::string_view text = values.HeaderText(0);
  return text.substr(0, padded.size()) == padded && text.size() >= padded.size();
}

}  // namespace

std::string FieldId(char letter, int field) {
  char id[24];
  std::snprintf(id, sizeof id, "%c%02d", letter, field);
  return id;
}

int64_t FindDocument(const ServedForm& form, RecordReader* reader, std::string_view key, bool* read) {
  *read = false;
  const Engine& engine = *form.engine;
  const int key_length = KeyLength(engine.form());
  if (key.empty() || key.size() > static_cast<size_t>(key_length)) return -1;
  std::string padded(key);
  padded.resize(static_cast<size_t>(key_length), ' ');
  // A remembered record is taken only while it still holds the key.
  const int64_t remembered = form.keys.Find(padded);
  RecordReader::Outcome outcome;
  if (remembered >= 0 && reader->ReadRecord(remembered, &outcome).ok() && !outcome.beyond_head &&
      HoldsKey(reader->values(), padded)) {
    *read = true;
    return remembered;
  }
  const int64_t found = engine.FindRecordByKey(key);
  if (found >= 0) {
    form.keys.Remember(padded, found);
    return found;
  }
  const int64_t end = std::min(reader->record_count(), engine.record_count() + kMaxGrowthSearched);
  for (int64_t n = reader->NextRecordWithData(engine.record_count()); n < end;
       n = reader->NextRecordWithData(n + 1)) {
    if (!reader->ReadRecord(n, &outcome).ok() || outcome.beyond_head) return -1;
    if (HoldsKey(reader->values(), padded)) {
      *read = true;
      return n;
    }
  }
  return -1;
}

bool ReadDocument(RecordReader* reader, int64_t n, RecordReader::Outcome* outcome, Status* status) {
  if (n < 0 || n >= reader->record_count()) return false;
  *status = reader->ReadRecord(n, outcome);
  return status->ok() ? !outcome->beyond_head : true;
}

std::string DocumentKey(const Form& form, const RecordValues& values) {
  std::string_view key = values.HeaderText(0).substr(0, static_cast<size_t>(KeyLength(form)));
  while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
  return std::string(key);
}

std::string DocumentPath(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter) {
  const Form& f = form.engine->form();
  const std::string key = DocumentKey(f, reader.values());
  const std::string base = "/" + UrlEncode(form.name);
  if (key.empty()) return base + "/record/" + std::to_string(n);
  std::string padded = key;
  padded.resize(static_cast<size_t>(KeyLength(f)), ' ');
  int64_t found = form.keys.Find(padded);
  if (found < 0) {
    found = form.engine->FindRecordByKey(key);
    if (found >= 0) form.keys.Remember(padded, found);
  }
  if (found == n) return base + "/doc/" + UrlEncode(converter.Convert(key));
  return base + "/record/" + std::to_string(n);
}

std::string DocumentJson(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter) {
  // Written straight out with the rows' JSON string writer: this is the
  // service's busiest answer, and a tree of values would cost more than the
  // record's reading.
  const Form& f = form.engine->form();
  const RecordValues& values = reader.values();
  std::string utf8;
  std::string out = "{\"form\":";
  const auto field = [&](const std::string& id, std::string_view text) {
    AppendJsonString(id, &out);
    out.push_back(':');
    utf8.clear();
    converter.Append(text, &utf8);
    AppendJsonString(utf8, &out);
  };
  AppendJsonString(form.name, &out);
  out += ",\"record\":" + std::to_string(n) + ",";
  field("key", DocumentKey(f, values));
  out += ",\"header\":{";
  for (int i = 0; i < f.header_count; ++i) {
    if (i > 0) out.push_back(',');
    field(FieldId('h', i), values.HeaderText(i));
  }
  out += "},\"lines\":[";
  bool first = true;
  for (int line = 0; line < f.line_count; ++line) {
    if (!reader.LinePresent(line)) continue;
    out += first ? "{\"line\":" : ",{\"line\":";
    first = false;
    out += std::to_string(line) + ",\"fields\":{";
    for (int i = 0; i < f.field_count; ++i) {
      if (i > 0) out.push_back(',');
      field(FieldId('d', i), values.DetailText(line, i));
    }
    out += "}}";
  }
  out += "]}\n";
  return out;
}
