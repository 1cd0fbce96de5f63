// Loading a form: the definition file, its record lengths and table
// descriptors.
#include "form.h"

#include <cctype>
#include <climits>
#include <cstdio>

#include "tcp.h"
#include "escape.h"
#include "file_io.h"

namespace {

// Reads whitespace-separated tokens the way a scanf("%d") / scanf("%s")
// sequence does: an integer may be followed directly by the next token.
class TokenReader {
 public:
  explicit TokenReader(const std::string& text) : text_(text) {}

  // Reads an optionally signed decimal integer. Returns false when the next
  // token does not start with one or the value does not fit in an int; `found`
  // then describes what stood there.
  bool ReadInt(long* value, std::string* found) {
    SkipSpace();
    size_t start = pos_;
    size_t p = pos_;
    bool negative = false;
    if (p < text_.size() && (text_[p] == '+' || text_[p] == '-')) negative = text_[p++] == '-';
    size_t digits = p;
    long v = 0;
    while (p < text_.size() && std::isdigit(static_cast<unsigned char>(text_[p]))) {
      // Saturate below LONG_MAX, so that the next digit cannot overflow; the
      // caller's range check then refuses the value.
      constexpr long kSaturated = (LONG_MAX - 9) / 10;
      if (v > kSaturated) v = kSaturated;
      v = v * 10 + (text_[p] - '0');
      ++p;
    }
    if (p == digits) {
      *found = Describe(start);
      return false;
    }
    pos_ = p;
    *value = negative ? -v : v;
    // Digits only, so safe to print; a run of thousands is cut short.
    number_text_ = p - start > 40 ? text_.substr(start, 40) + "..." : text_.substr(start, p - start);
    return true;
  }
  // The text of the last integer read, as written: a value too long for a
  // long is reported as it stands, not as the saturated value.
  const std::string& number_text() const { return number_text_; }

  bool ReadWord(std::string* word) {
    SkipSpace();
    size_t start = pos_;
    while (pos_ < text_.size() && !std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    *word = text_.substr(start, pos_ - start);
    return !word->empty();
  }

 private:
  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  std::string Describe(size_t start) const {
    if (start >= text_.size()) return "the end of the file";
    size_t end = start;
    while (end < text_.size() && end - start < 20 &&
           !std::isspace(static_cast<unsigned char>(text_[end])))
      ++end;
    // Control bytes and bytes above 126 are shown as \xNN: a NUL would
    // otherwise cut the message short where it is printed.
    std::string quoted = EscapeControlBytes(std::string_view(text_).substr(start, end - start));
    quoted.insert(quoted.begin(), '\'');
    quoted += '\'';
    return quoted;
  }

  const std::string& text_;
  size_t pos_ = 0;
  std::string number_text_;
};

// Parses one definition file; each method names the field at fault on error.
class DefinitionParser {
 public:
  DefinitionParser(const std::string& name, const std::string& text, Form* form)
      : name_(name), tokens_(text), form_(form) {}

  Status Parse() {
    Status s = ParseCounts();
    if (!s.ok()) return s;
    form_->header_record_length = 6 * static_cast<int64_t>(form_->line_count) + 1;
    form_->detail_record_length = 6;
    for (int f = 0; f < form_->header_count; ++f) {
      where_ = "header field " + std::to_string(f);
      FieldDef def;
      if (!(s = ParseField(&def, /*with_extras=*/true)).ok()) return s;
      if (IsStoredType(def.type)) form_->header_record_length += def.length;
      form_->ph.push_back(def);
    }
    for (int line = 0; line < form_->line_count; ++line) {
      for (int f = 0; f < form_->field_count; ++f) {
        where_ = "detail line " + std::to_string(line) + " field " + std::to_string(f);
        FieldDef def;
        if (!(s = ParseField(&def, /*with_extras=*/line == 0)).ok()) return s;
        if (line == 0 && IsStoredType(def.type)) form_->detail_record_length += def.length;
        form_->pd.push_back(def);
      }
    }
    return CheckFieldRoom();
  }

 private:
  Status ParseCounts() {
    where_ = "the counts at the start";
    long v;
    Status s;
    if (!(s = ReadCount("header field count", kMaxHeaderFields, &v)).ok()) return s;
    form_->header_count = static_cast<int>(v);
    if (!(s = ReadCount("detail line count", kMaxDetailLines, &v)).ok()) return s;
    form_->line_count = static_cast<int>(v);
    if (!(s = ReadCount("detail field count", kMaxDetailFields, &v)).ok()) return s;
    form_->field_count = static_cast<int>(v);
    if (!(s = ReadNumber("fourth count", INT_MIN, INT_MAX, &v)).ok()) return s;
    form_->unused_count = static_cast<int>(v);
    if (static_cast<int64_t>(form_->line_count) * form_->field_count > kMaxDetailDefinitions)
      return Fail("detail line count times field count exceeds " +
                  std::to_string(kMaxDetailDefinitions));
    return Status::Ok();
  }

  // The value buffers are sized from the form before any record is read: their
  // total is held to kMaxFieldRoom, so that no form can ask for an
  // allocation beyond it. Every term is below 2^17 and there are at most
  // 1.1 million, so the 64-bit sum cannot overflow.
  Status CheckFieldRoom() {
    int64_t room = 0;
    for (const FieldDef& def : form_->ph) room += FieldRoom(def, *form_, true);
    for (const FieldDef& def : form_->pd) room += FieldRoom(def, *form_, false);
    if (room <= kMaxFieldRoom) return Status::Ok();
    where_ = "its fields";
    return Fail("their values need " + std::to_string(room) +
                " bytes of room, beyond the limit of 1 GiB");
  }

  Status ReadCount(const char* what, long max, long* v) {
    Status s = ReadNumber(what, 0, INT_MAX, v);
    if (s.ok() && *v > max) return Fail(std::string(what) + " " + tokens_.number_text() +
                                        " exceeds the limit of " + std::to_string(max));
    return s;
  }

  Status ParseField(FieldDef* def, bool with_extras) {
    Status s;
    if (!(s = ReadEntry("row", INT16_MIN, &def->row)).ok()) return s;
    if (!(s = ReadEntry("column", INT16_MIN, &def->column)).ok()) return s;
    if (!(s = ReadEntry("length", 0, &def->length)).ok()) return s;
    if (!(s = ReadEntry("type", INT16_MIN, &def->type)).ok()) return s;
    if (!with_extras) return Status::Ok();
    if (IsDerivedType(def->type)) {
      if (!(s = ReadEntry("source", INT16_MIN, &def->source)).ok()) return s;
      if (!(s = ReadEntry("offset", 0, &def->offset)).ok()) return s;
      return ReadEntry("size", INT16_MIN, &def->size);
    }
    if (IsKeyType(def->type)) return ParseTable(def);
    return Status::Ok();
  }

  // A key field's extras: the table file name, record length, description
  // offset and size. The last key field naming a table sets its descriptor.
  Status ParseTable(FieldDef* def) {
    TableDesc desc;
    desc.named = true;
    if (!tokens_.ReadWord(&desc.file_name)) return Fail("missing the table file name");
    long v;
    Status s;
    if (!(s = ReadNumber("table record length", 1, INT_MAX, &v)).ok()) return s;
    desc.record_length = static_cast<int>(v);
    if (!(s = ReadEntry("description offset", 0, &def->offset)).ok()) return s;
    if (!(s = ReadEntry("description size", INT16_MIN, &def->size)).ok()) return s;
    desc.description_offset = def->offset;
    desc.description_size = def->size;
    size_t table = static_cast<size_t>(KeyTable(def->type));
    if (form_->tables.size() <= table) form_->tables.resize(table + 1);
    form_->tables[table] = std::move(desc);
    return Status::Ok();
  }

  Status ReadEntry(const char* what, long min, int16_t* entry) {
    long v;
    Status s = ReadNumber(what, min, INT16_MAX, &v);
    if (s.ok()) *entry = static_cast<int16_t>(v);
    return s;
  }

  Status ReadNumber(const char* what, long min, long max, long* v) {
    std::string found;
    if (!tokens_.ReadInt(v, &found))
      return Fail(std::string("expected a number for the ") + what + ", found " + found);
    if (*v < min || *v > max)
      return Fail(std::string("the ") + what + " " + tokens_.number_text() + " is out of range (" +
                  std::to_string(min) + " to " + std::to_string(max) + ")");
    return Status::Ok();
  }

  Status Fail(const std::string& what) {
    return Status::Error("form '" + name_ + "', " + where_ + ": " + what);
  }

  const std::string& name_;
  TokenReader tokens_;
  Form* form_;
  std::string where_;
};

}  // namespace

Status ParseFormDefinition(const std::string& name, const std::string& text, Form* form) {
  return DefinitionParser(name, text, form).Parse();
}

Status LoadForm(const std::string& path, Form* form) {
  *form = Form();
  form->path = path;
  std::string text;
  ReadResult r = ReadWholeFile(path, &text, kMaxFormFileSize);
  if (r == ReadResult::kTooLarge)
    return Status::Error("form '" + path + "' is larger than the 16 MiB a form may hold");
  if (r != ReadResult::kOk)
    return Status::Error("form '" + path + "' " + DescribeReadFailure(r));
  Status s = ParseFormDefinition(path, text, form);
  if (!s.ok()) return s;

  std::string trace = "PARAMETROS LEIDOS FORM " + path;
  dbgr(1, trace.c_str());
  // The screen masks `<form>.0` and `<form>.1` belong to the entry screens;
  // the query never shows them, so they are not read.
  return Status::Ok();
}
