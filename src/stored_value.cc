// Formatting values into stored fields.
#include "stored_value.h"

#include <cstdio>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view v) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

// Names a byte no stored value may hold; empty when there is none.
std::string ForbiddenByte(std::string_view value) {
  for (char c : value) {
    if (c == '\n') return "holds a line feed";
    if (c == '\0') return "holds a NUL byte";
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      char text[48];
      std::snprintf(text, sizeof text, "holds the control byte 0x%02x", u);
      return text;
    }
  }
  return "";
}

// The canonical text of a number with `decimals` decimals: an optional
// minus, the integer digits without leading zeros, the point and exactly
// `decimals` digits. False when `v` is no such number.
bool CanonicalNumber(std::string_view v, int decimals, std::string* out, std::string* why) {
  bool negative = false;
  if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  const size_t point = v.find('.');
  std::string_view whole = v.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view() : v.substr(point + 1);
  bool digits_only = !(whole.empty() && fraction.empty());
  for (char c : whole) digits_only = digits_only && IsDigit(c);
  for (char c : fraction) digits_only = digits_only && IsDigit(c);
  if (!digits_only) {
    *why = "is not a number";
    return false;
  }
  while (fraction.size() > static_cast<size_t>(decimals) && fraction.back() == '0') fraction.remove_suffix(1);
  if (fraction.size() > static_cast<size_t>(decimals)) {
    *why = "has " + std::to_string(fraction.size()) + " decimals; the field takes " + std::to_string(decimals);
    return false;
  }
  while (whole.size() > 1 && whole.front() == '0') whole.remove_prefix(1);
  std::string text(whole.empty() ? "0" : whole);
  if (decimals > 0) {
    text.push_back('.');
    text.append(fraction.data(), fraction.size());
    text.append(static_cast<size_t>(decimals) - fraction.size(), '0');
  }
  const bool zero = text.find_first_not_of("0.") == std::string::npos;
  if (negative && !zero) text.insert(text.begin(), '-');
  *out = std::move(text);
  return true;
}

int DaysIn(int month, int year) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// ddmmyyyy from "ddmmyyyy" or "dd/mm/yyyy"; false when it is no real date.
bool CanonicalDate(std::string_view v, std::string* out, std::string* why) {
  std::string digits;
  if (v.size() == 10 && v[2] == '/' && v[5] == '/') {
    digits = std::string(v.substr(0, 2)) + std::string(v.substr(3, 2)) + std::string(v.substr(6, 4));
  } else {
    digits = v;
  }
  bool ok = digits.size() == 8;
  for (char c : digits) ok = ok && IsDigit(c);
  if (!ok) {
    *why = "is not a date ddmmyyyy or dd/mm/yyyy";
    return false;
  }
  const int day = std::stoi(digits.substr(0, 2)), month = std::stoi(digits.substr(2, 2));
  const int year = std::stoi(digits.substr(4, 4));
  if (month < 1 || month > 12 || year < 1 || day < 1 || day > DaysIn(month, year)) {
    *why = "is no day of the calendar";
    return false;
  }
  *out = digits;
  return true;
}

bool Canonical(const FieldDef& def, std::string_view value, std::string* out, std::string* why) {
  if (IsNumberType(def.type) || IsDateType(def.type)) {
    value = Trim(value);
    if (value.empty()) {
      out->clear();
      return true;
    }
    return IsDateType(def.type) ? CanonicalDate(value, out, why)
                                : CanonicalNumber(value, NumberDecimals(def.type), out, why);
  }
  *out = value;
  while (!out->empty() && out->back() == ' ') out->pop_back();  // the fill would put them back
  return true;
}

}  // namespace

bool FormatStoredValue(const FieldDef& def, FieldPlace place, std::string_view value, std::string* out,
                       std::string* why) {
  *why = ForbiddenByte(value);
  if (!why->empty()) return false;
  std::string text;
  if (!Canonical(def, value, &text, why)) return false;
  const size_t width = def.length < 0 ? 0 : static_cast<size_t>(def.length);
  if (text.size() > width) {
    *why = "is " + std::to_string(text.size()) + " characters wide; the field holds " + std::to_string(width);
    return false;
  }
  if (place == FieldPlace::kFirstOfLine && (text.empty() || text.front() == ' ')) {
    *why = text.empty() ? "is empty; a line's first field needs a value (delete the line instead)"
                        : "begins with a blank; a line whose first field does reads as deleted";
    return false;
  }
  const bool right = IsNumberType(def.type) && place == FieldPlace::kAnywhere;
  const std::string fill(width - text.size(), ' ');
  *out = right ? fill + text : text + fill;
  return true;
}

std::string ValueOfStored(std::string_view bytes) {
  const size_t nul = bytes.find('\0');
  if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  return std::string(Trim(bytes));
}
