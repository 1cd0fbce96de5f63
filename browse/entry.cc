#include "entry.h"

#include <algorithm>
#include <tuple>

#include "escape.h"
#include "stored_value.h"

namespace {

bool IsBlank(const std::string& text) { return text.find_first_not_of(' ') == std::string::npos; }

// "h01", "line 2 d00": a field as the message row names it.
std::string FieldName(EntryField at) {
  std::string number = std::to_string(at.field);
  if (at.field < 10) number = "0" + number;
  if (at.line < 0) return "h" + number;
  return "line " + std::to_string(at.line + 1) + " d" + number;
}

void Shape(const Form& form, DocumentValues* values) {
  values->header.resize(static_cast<size_t>(form.header_count));
  values->lines.resize(static_cast<size_t>(form.line_count));
  for (LineValues& line : values->lines) line.fields.resize(static_cast<size_t>(form.field_count));
}

}  // namespace

int EditorType(const FieldDef& def) { return def.type >= 0 && def.type <= 9 ? def.type : 0; }

DocumentEntry DocumentEntry::Blank(const Form& form) {
  DocumentEntry entry(form);
  Shape(form, &entry.values_);
  entry.start_ = entry.values_;
  return entry;
}

DocumentEntry DocumentEntry::Change(const Form& form, LoadedDocument loaded) {
  DocumentEntry entry(form);
  entry.values_ = loaded.values;
  Shape(form, &entry.values_);
  entry.start_ = entry.values_;
  entry.before_ = std::move(loaded);
  return entry;
}

bool DocumentEntry::SameLines(const DocumentValues& a, const DocumentValues& b) {
  if (a.lines.size() != b.lines.size()) return false;
  for (size_t line = 0; line < a.lines.size(); ++line) {
    if (a.lines[line].present != b.lines[line].present) return false;
    if (a.lines[line].present && a.lines[line].fields != b.lines[line].fields) return false;
  }
  return true;
}

const FieldDef& DocumentEntry::Def(EntryField at) const {
  return at.line < 0 ? form_->ph[static_cast<size_t>(at.field)] : form_->detail(at.line, at.field);
}

std::vector<EntryField> DocumentEntry::Order() const {
  auto part = [this](int line, int count) {
    std::vector<EntryField> fields;
    for (int f = 0; f < count; ++f) {
      if (IsStoredType(Def({line, f}).type)) fields.push_back({line, f});
    }
    std::stable_sort(fields.begin(), fields.end(), [this](EntryField a, EntryField b) {
      return std::tie(Def(a).row, Def(a).column) < std::tie(Def(b).row, Def(b).column);
    });
    return fields;
  };
  std::vector<EntryField> order = part(-1, form_->header_count);
  int offered = 0;
  for (int line = 0; line < form_->line_count; ++line) {
    if (values_.lines[static_cast<size_t>(line)].present) offered = line + 1;
  }
  offered = std::min(offered + 1, form_->line_count);
  for (int line = 0; line < offered; ++line) {
    std::vector<EntryField> fields = part(line, form_->field_count);
    order.insert(order.end(), fields.begin(), fields.end());
  }
  return order;
}

bool DocumentEntry::Valid(EntryField at) const {
  if (at.line < 0) return at.line == -1 && at.field >= 0 && at.field < form_->header_count;
  return at.line < form_->line_count && at.field >= 0 && at.field < form_->field_count;
}

const std::string& DocumentEntry::Text(EntryField at) const {
  static const std::string kNone;
  if (!Valid(at)) return kNone;
  if (at.line < 0) return values_.header[static_cast<size_t>(at.field)];
  return values_.lines[static_cast<size_t>(at.line)].fields[static_cast<size_t>(at.field)];
}

void DocumentEntry::SetText(EntryField at, std::string text) {
  if (!Valid(at) || !IsStoredType(Def(at).type)) return;
  if (at.line < 0) {
    values_.header[static_cast<size_t>(at.field)] = std::move(text);
    return;
  }
  values_.lines[static_cast<size_t>(at.line)].fields[static_cast<size_t>(at.field)] = std::move(text);
  UpdatePresence(at.line);
}

void DocumentEntry::UpdatePresence(int line) {
  LineValues& values = values_.lines[static_cast<size_t>(line)];
  values.present = false;
  for (int f = 0; f < form_->field_count; ++f) {
    if (IsStoredType(Def({line, f}).type) && !IsBlank(values.fields[static_cast<size_t>(f)])) values.present = true;
  }
}

void DocumentEntry::DeleteLine(int line) {
  if (line < 0 || line >= form_->line_count) return;
  LineValues& values = values_.lines[static_cast<size_t>(line)];
  std::fill(values.fields.begin(), values.fields.end(), std::string());
  values.present = false;
}

DocumentValues DocumentEntry::ToStore() const {
  DocumentValues out = values_;
  for (int f = 0; f < form_->header_count; ++f) {
    std::string& text = out.header[static_cast<size_t>(f)];
    if (IsNumberType(Def({-1, f}).type) && IsBlank(text)) text.assign(1, '0');
  }
  for (int line = 0; line < form_->line_count; ++line) {
    LineValues& values = out.lines[static_cast<size_t>(line)];
    for (int f = 0; f < form_->field_count && values.present; ++f) {
      if (IsNumberType(Def({line, f}).type) && IsBlank(values.fields[static_cast<size_t>(f)])) values.fields[static_cast<size_t>(f)].assign(1, '0');
    }
  }
  return out;
}

TypedRecord DocumentEntry::Typed() const {
  const DocumentValues to_store = ToStore();
  auto stored = [this, &to_store](EntryField at) {
    const std::string& text = at.line < 0 ? to_store.header[static_cast<size_t>(at.field)]
                                          : to_store.lines[static_cast<size_t>(at.line)].fields[static_cast<size_t>(at.field)];
    std::string out, why;
    const FieldPlace place = at.line >= 0 && at.field == 0 ? FieldPlace::kFirstOfLine : FieldPlace::kAnywhere;
    if (!FormatStoredValue(Def(at), place, text, &out, &why)) return text;
    return out;
  };
  TypedRecord typed;
  for (int f = 0; f < form_->header_count; ++f) typed.header.push_back(stored({-1, f}));
  for (int line = 0; line < form_->line_count; ++line) {
    typed.lines.emplace_back();
    if (!values_.lines[static_cast<size_t>(line)].present) continue;
    std::vector<std::string> fields;
    for (int f = 0; f < form_->field_count; ++f) fields.push_back(stored({line, f}));
    typed.lines.back() = std::move(fields);
  }
  return typed;
}

std::string DocumentEntry::MissingKeyText(const MissingKey& key) const {
  const EntryField at{key.line, key.field};
  const TableDesc* table = form_->table(KeyTable(Def(at).type));
  std::string text = FieldName(at) + ": no '" + EscapeControlBytes(Text(at)) + "' in ";
  return text + (table != nullptr ? EscapeControlBytes(table->file_name) : std::string("its table"));
}

std::string DocumentEntry::Refusal(const std::vector<MissingKey>& missing) const {
  if (!missing.empty()) return MissingKeyText(missing.front());
  for (EntryField at : Order()) {
    if (at.line >= 0 && !values_.lines[static_cast<size_t>(at.line)].present) continue;
    if (at.line >= 0 && at.field == 0 && IsBlank(Text(at))) return FieldName(at) + " is blank; a line needs it";
    std::string out, why;
    const FieldPlace place = at.line >= 0 && at.field == 0 ? FieldPlace::kFirstOfLine : FieldPlace::kAnywhere;
    if (!FormatStoredValue(Def(at), place, Text(at), &out, &why)) return FieldName(at) + ": the value " + why;
  }
  return std::string();
}
