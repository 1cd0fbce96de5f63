#include "display_value.h"

#include "tcp.h"

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number as the formulas write it: optional '-', digits, optional point
// and digits.
bool IsNumberText(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  size_t digits = 0;
  bool point = false;
  for (char c : text) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits > 0;
}

std::string Punto(std::string_view number, int decimals) {
  // punto reads a C string and writes at most PUNTO_OUTPUT_SIZE bytes; a
  // value longer than any number it groups is cut first.
  const std::string text(number.substr(0, 64));
  char shown[PUNTO_OUTPUT_SIZE] = {};
  punto(text.c_str(), shown, decimals);
  return shown;
}

std::string DateText(std::string_view text) {
  if (text.size() != 8) return std::string(text);
  for (char c : text)
    if (!IsDigit(c)) return std::string(text);
  return std::string(text.substr(0, 2)) + "/" + std::string(text.substr(2, 2)) + "/" + std::string(text.substr(4));
}

}  // namespace

bool IsNumericField(const FieldDef& def) {
  return (def.type >= 1 && def.type <= 5) || def.type == kCalculatedType;
}

std::string DisplayValue(const FieldDef& def, std::string_view text) {
  const std::string_view trimmed = Trim(text);
  if (def.type >= 1 && def.type <= 5) {
    if (trimmed.empty()) return std::string();
    return Punto(trimmed, def.type - 1);
  }
  if (def.type == kCalculatedType) {
    if (!IsNumberText(trimmed) || trimmed.size() > 20) return std::string(trimmed);
    return Punto(trimmed, 2);
  }
  if (def.type == 8 || def.type == 9) return DateText(trimmed);
  std::string_view shown = text;
  while (!shown.empty() && shown.back() == ' ') shown.remove_suffix(1);
  return std::string(shown);
}
