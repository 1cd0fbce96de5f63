#include "row_format.h"

#include <cstdio>
#include <unordered_map>
#include <utility>

namespace {

std::string BaseId(const QueryArgument& argument) {
  char id[32];
  std::snprintf(id, sizeof id, "%c%02d", LowerAscii(argument.letter == '\0' ? '?' : argument.letter),
                argument.field);
  return id;
}

// A plain decimal number: optional blanks, an optional sign, digits with at
// most one point, optional blanks. Such a cell is data, never a formula.
bool IsPlainNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  while (i < s.size() && s[i] == ' ') ++i;
  return digits > 0 && i == s.size();
}

bool LooksLikeFormula(std::string_view s) {
  if (s.empty()) return false;
  const char c = s.front();
  const bool prefix = c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
  return prefix && !IsPlainNumber(s);
}

}  // namespace

bool ParseRowFormat(std::string_view name, RowFormat* format) {
  if (name == "text") {
    *format = RowFormat::kText;
  } else if (name == "json") {
    *format = RowFormat::kJson;
  } else if (name == "csv") {
    *format = RowFormat::kCsv;
  } else {
    return false;
  }
  return true;
}

std::vector<std::string> ColumnIds(const std::vector<QueryArgument>& arguments) {
  std::vector<std::string> ids;
  std::unordered_map<std::string, int> seen;
  for (const QueryArgument& argument : arguments) {
    std::string id = BaseId(argument);
    const int occurrence = ++seen[id];
    if (occurrence > 1) {
      id.push_back('#');
      id.append(std::to_string(occurrence));
    }
    ids.push_back(std::move(id));
  }
  return ids;
}

void AppendJsonString(std::string_view utf8, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (char c : utf8) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (byte < 0x20 || byte == 0x7F || c == '<' || c == '>' || c == '&') {
      out->append("\\u00");
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 15]);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

void AppendCsvCell(std::string_view utf8, std::string* out) {
  const bool formula = LooksLikeFormula(utf8);
  const bool quote = formula || utf8.find_first_of("\",\r\n") != std::string_view::npos;
  if (quote) out->push_back('"');
  if (formula) out->push_back('\'');
  for (char c : utf8) {
    if (c == '"') out->push_back('"');
    out->push_back(c);
  }
  if (quote) out->push_back('"');
}

RowWriter::RowWriter(RowFormat format, std::vector<QueryArgument> arguments, const Utf8Converter* converter)
    : format_(format), arguments_(std::move(arguments)), ids_(ColumnIds(arguments_)), converter_(converter) {}

void RowWriter::Begin(std::string* out) const {
  if (format_ != RowFormat::kCsv) return;
  for (size_t i = 0; i < ids_.size(); ++i) {
    if (i > 0) out->push_back(',');
    AppendCsvCell(ids_[i], out);
  }
  out->append("\r\n");
}

void RowWriter::Row(const RecordValues& values, int line, std::string* out) const {
  switch (format_) {
    case RowFormat::kText: return TextRow(values, line, out);
    case RowFormat::kJson: return JsonRow(values, line, out);
    case RowFormat::kCsv: return CsvRow(values, line, out);
  }
}

bool RowWriter::FieldOf(size_t i, const RecordValues& values, int line, std::string_view* text) const {
  const QueryArgument& argument = arguments_[i];
  if (argument.IsHeader()) {
    *text = values.HeaderText(argument.field);
    return true;
  }
  if (argument.IsDetail() && line >= 0) {
    *text = values.DetailText(line, argument.field);
    return true;
  }
  return false;
}

void RowWriter::TextRow(const RecordValues& values, int line, std::string* out) const {
  for (size_t i = 0; i < arguments_.size(); ++i) {
    std::string_view text;
    if (FieldOf(i, values, line, &text)) out->append(text);
    if (arguments_[i].has_separator) out->push_back(arguments_[i].separator);
  }
  out->push_back('\n');
}

void RowWriter::JsonRow(const RecordValues& values, int line, std::string* out) const {
  std::string utf8;
  out->push_back('{');
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (i > 0) out->push_back(',');
    AppendJsonString(ids_[i], out);
    out->push_back(':');
    std::string_view text;
    if (!FieldOf(i, values, line, &text)) {
      out->append("null");
      continue;
    }
    utf8.clear();
    converter_->Append(text, &utf8);
    AppendJsonString(utf8, out);
  }
  out->append("}\n");
}

void RowWriter::CsvRow(const RecordValues& values, int line, std::string* out) const {
  std::string utf8;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (i > 0) out->push_back(',');
    std::string_view text;
    if (!FieldOf(i, values, line, &text)) continue;
    utf8.clear();
    converter_->Append(text, &utf8);
    AppendCsvCell(utf8, out);
  }
  out->append("\r\n");
}
