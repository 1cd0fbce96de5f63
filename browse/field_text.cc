#include "field_text.h"

#include <algorithm>

#include "tcp.h"

namespace {

constexpr int kDateWidth = 10;

bool IsNumberType(int type) { return type >= 1 && type <= 5; }
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
