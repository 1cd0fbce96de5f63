#include "document.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "html.h"

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

int64_t FindDocument(const ServedForm& form, RecordReader* reader, std::string_view key) {
  const Engine& engine = *form.engine;
  const int key_length = KeyLength(engine.form());
  if (key.empty() || key.size() > static_cast<size_t>(key_length)) return -1;
  const int64_t found = engine.FindRecordByKey(key);
  if (found >= 0) return found;
  std::string padded(key);
  padded.resize(static_cast<size_t>(key_length), ' ');
  const int64_t end = std::min(reader->record_count(), engine.record_count() + kMaxGrowthSearched);
  for (int64_t n = reader->NextRecordWithData(engine.record_count()); n < end;
       n = reader->NextRecordWithData(n + 1)) {
    RecordReader::Outcome outcome;
    if (!reader->Read(n, &outcome).ok() || outcome.beyond_head) return -1;
    if (HoldsKey(reader->values(), padded)) return n;
  }
  return -1;
}

bool ReadDocument(RecordReader* reader, int64_t n, RecordReader::Outcome* outcome, Status* status) {
  if (n < 0 || n >= reader->record_count()) return false;
  *status = reader->Read(n, outcome);
  return status->ok() ? !outcome->beyond_head : true;
}

std::string DocumentKey(const Form& form, const RecordValues& values) {
  std::string_view key = values.HeaderText(0).substr(0, static_cast<size_t>(KeyLength(form)));
  while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
  return std::string(key);
}

std::string DocumentPath(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter) {
  const std::string key = DocumentKey(form.engine->form(), reader.values());
  const std::string base = "/" + UrlEncode(form.name);
  if (!key.empty() && form.engine->FindRecordByKey(key) == n) return base + "/doc/" + UrlEncode(converter.Convert(key));
  return base + "/record/" + std::to_string(n);
}

std::string DocumentJson(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter) {
  const Form& f = form.engine->form();
  const RecordValues& values = reader.values();
  nlohmann::ordered_json doc;
  doc["form"] = form.name;
  doc["record"] = n;
  doc["key"] = converter.Convert(DocumentKey(f, values));
  nlohmann::ordered_json header = nlohmann::ordered_json::object();
  for (int i = 0; i < f.header_count; ++i) header[FieldId('h', i)] = converter.Convert(values.HeaderText(i));
  doc["header"] = std::move(header);
  nlohmann::ordered_json lines = nlohmann::ordered_json::array();
  for (int line = 0; line < f.line_count; ++line) {
    if (!reader.LinePresent(line)) continue;
    nlohmann::ordered_json fields = nlohmann::ordered_json::object();
    for (int i = 0; i < f.field_count; ++i) fields[FieldId('d', i)] = converter.Convert(values.DetailText(line, i));
    lines.push_back({{"line", line}, {"fields", std::move(fields)}});
  }
  doc["lines"] = std::move(lines);
  return doc.dump() + "\n";
}
