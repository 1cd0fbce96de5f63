#include "field_text.h"

#include <algorithm>

#include "tcp.h"

namespace {

constexpr int kDateWidth = 10;

constexpr int kCalculatedDecimals = 2;

bool IsNumberType(int type) { return type >= 1 && type <= 5; }

// Whether `text` is a number as the formulas write it (blanks, sign, digits,
// one point); "/BY0" and other text is not.
bool IsNumberText(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return false;
  text.remove_prefix(begin);
  if (text[0] == '-' || text[0] == '+') text.remove_prefix(1);
  bool digit = false, point = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else if (c != ' ') {
      return false;
    }
  }
  return digit;
}

std::string RightAligned(std::string_view text, int width) {
  size_t end = text.find_last_not_of(' ');
  size_t begin = text.find_first_not_of(' ');
  std::string trimmed = begin == std::string_view::npos ? std::string() : std::string(text.substr(begin, end - begin + 1));
  if (static_cast<int>(trimmed.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - trimmed.size(), ' ') + trimmed;
}
bool IsDateType(int type) { return type == 8 || type == 9; }

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string NumberText(std::string_view text, int decimals, int width) {
  // punto reads a C string; a value holds no NUL, and an absurdly long one
  // is no number anyway.
  std::string number(text.substr(0, 400));
  char shown[PUNTO_OUTPUT_SIZE] = {};
  punto(number.c_str(), shown, decimals);
  std::string out(shown);
  if (static_cast<int>(out.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - out.size(), ' ') + out;
}

std::string DateText(std::string_view text) {
  std::string_view date = text.substr(0, std::min<size_t>(text.size(), 8));
  if (date.size() != 8 || !AllDigits(date)) return std::string(text);
  return std::string(date.substr(0, 2)) + "/" + std::string(date.substr(2, 2)) + "/" +
         std::string(date.substr(4, 4));
}

}  // namespace

bool IsRightAligned(const FieldDef& def) { return IsNumberType(def.type) || def.type == kCalculatedType; }

std::string CutAtEdge(const FieldDef& def, const std::string& shown, int width) {
  if (width >= static_cast<int>(shown.size())) return shown;
  std::string cut = shown.substr(0, static_cast<size_t>(std::max(width, 0)));
  bool lost = shown.find_first_not_of(' ', cut.size()) != std::string::npos;
  if (IsRightAligned(def) && lost) return std::string(cut.size(), '*');
  return cut;
}

int DisplayWidth(const Form& form, const FieldDef& def, bool header) {
  if (IsDateType(def.type)) return kDateWidth;
  int width = std::max<int>(def.length, 0);
  if (header && IsKeyType(def.type)) {
    const TableDesc* table = form.table(KeyTable(def.type));
    if (table != nullptr) width += 1 + std::max(table->description_size, 0);
  }
  return width;
}

std::string DisplayText(const FieldDef& def, std::string_view text, int width) {
  if (width <= 0) return std::string();
  std::string out;
  if (IsNumberType(def.type)) {
    out = NumberText(text, def.type - 1, width);
  } else if (def.type == kCalculatedType && IsNumberText(text)) {
    out = NumberText(text, kCalculatedDecimals, width);
  } else if (def.type == kCalculatedType) {
    out = RightAligned(text, width);
  } else if (IsDateType(def.type)) {
    out = DateText(text);
  } else {
    out = std::string(text.substr(0, static_cast<size_t>(width)));
  }
  out.resize(static_cast<size_t>(width), ' ');
  for (char& c : out) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return out;
}
