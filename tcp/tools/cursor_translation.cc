// Cursor addressing: from the terminal database's parameter language to the
// terminal table's cursor format.
#include "cursor_translation.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace tcptable {

namespace {

// A value on the parameter stack: a coordinate (1 row, 2 column) plus an
// offset, or a constant (param 0).
struct Value {
  int param = 0;
  int offset = 0;  // for a constant: the constant
};

// One printed coordinate: which, with what offset, through which conversion
// (flags, width and precision, without the '%').
struct Printed {
  int param;
  int offset;
  std::string shape;
};

struct Translation {
  std::vector<Value> stack;
  std::vector<Printed> printed;
  std::vector<std::string> before;  // the text before each printed coordinate
  std::string pieces;                // the text since the last printed coordinate
  int increment = 0;   // 1 once %i was seen: added to coordinates pushed later
  std::string error;
};

// True when `c` is one of the characters of `set` (never for a byte 0).
bool OneOf(char c, const char *set) { return c != '\0' && std::strchr(set, c) != nullptr; }

bool Fail(Translation &t, std::string reason) {
  t.error = std::move(reason);
  return false;
}

// Appends literal output, doubling '%' since entry 1 is a format.
void AppendLiteral(std::string &out, std::string_view text) {
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
}

// Reads a print conversion at text[i] ("%:-3d" minus the '%'): flags,
// width, precision and conversion. Advances i past it. False when it is
// none, or its width or precision is above 255.
bool ReadConversion(std::string_view text, size_t &i, std::string *shape, char *conversion) {
  if (i < text.size() && text[i] == ':') ++i;
  size_t begin = i;
  while (i < text.size() && OneOf(text[i], "-+# ")) ++i;
  // Width and precision: at most 255, as the library's formatter counts them.
  auto digits = [&]() {
    int n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      n = n * 10 + (text[i++] - '0');
      if (n > 255) return false;
    }
    return true;
  };
  if (!digits()) return false;
  if (i < text.size() && text[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i >= text.size() || !OneOf(text[i], "doxXc")) return false;
  *shape = std::string(text.substr(begin, i - begin));
  *conversion = text[i++];
  return true;
}

bool Print(Translation &t, const std::string &shape, char conversion) {
  if (t.stack.empty()) return Fail(t, "prints a value that was never pushed");
  Value v = t.stack.back();
  t.stack.pop_back();
  if (v.param == 0) {  // a constant: printed once, here
    std::string format = "%" + shape + conversion;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format.c_str(), v.offset);
    AppendLiteral(t.pieces, buffer);
    return true;
  }
  t.printed.push_back({v.param, v.offset, shape + conversion});
  t.before.push_back(std::move(t.pieces));
  t.pieces.clear();
  return true;
}

bool Add(Translation &t) {
  if (t.stack.size() < 2) return Fail(t, "adds with fewer than two values");
  Value b = t.stack.back();
  t.stack.pop_back();
  Value a = t.stack.back();
  t.stack.pop_back();
  if (a.param != 0 && b.param != 0) return Fail(t, "adds the row and the column");
  t.stack.push_back({a.param + b.param, a.offset + b.offset});
  return true;
}

bool ReadNumber(std::string_view text, size_t &i, int *value) {
  size_t begin = i;
  long n = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && n < 100000) n = n * 10 + (text[i++] - '0');
  if (i == begin || i >= text.size() || text[i] != '}') return false;
  ++i;
  *value = static_cast<int>(n);
  return true;
}

// One '%' operation starting at text[i], just after the '%'.
bool Operation(Translation &t, std::string_view text, size_t &i) {
  if (i >= text.size()) return Fail(t, "ends in a lone '%'");
  char op = text[i];
  switch (op) {
    case '%':
      ++i;
      t.pieces += "%%";
      return true;
    case 'i':  // raises the row and column once, however often it stands
      ++i;
      t.increment = 1;
      return true;
    case 'p': {
      if (i + 1 >= text.size() || text[i + 1] < '1' || text[i + 1] > '9')
        return Fail(t, "has a %p without a parameter number");
      int param = text[i + 1] - '0';
      if (param > 2) return Fail(t, "uses parameter " + std::to_string(param) + " (only row and column exist)");
      i += 2;
      t.stack.push_back({param, t.increment});
      return true;
    }
    case '{': {
      ++i;
      int value;
      if (!ReadNumber(text, i, &value)) return Fail(t, "has a malformed %{number}");
      t.stack.push_back({0, value});
      return true;
    }
    case '\'':
      if (i + 2 >= text.size() || text[i + 2] != '\'') return Fail(t, "has a malformed %'c'");
      t.stack.push_back({0, static_cast<unsigned char>(text[i + 1])});
      i += 3;
      return true;
    case '+':
      ++i;
      return Add(t);
    case '?': case 't': case 'e': case ';':
      return Fail(t, "uses a conditional (%?)");
    case 'P': case 'g':
      return Fail(t, "uses a variable (%P, %g)");
    case 's': case 'l':
      return Fail(t, std::string("uses string output (%") + op + ")");
    default:
      break;
  }
  if (OneOf(op, "-*/m&|^=<>AO!~"))
    return Fail(t, std::string("uses arithmetic other than adding a constant (%") + op + ")");
  std::string shape;
  char conversion;
  if (!ReadConversion(text, i, &shape, &conversion))
    return Fail(t, std::string("uses an unknown operation %") + op + " (or a width above 255)");
  return Print(t, shape, conversion);
}

// Builds the format from the translation's pieces, with argument positions
// unless the row is printed once and then the column once.
std::string Assemble(const Translation &t) {
  bool in_order = t.printed.size() == 2 && t.printed[0].param == 1 && t.printed[1].param == 2;
  std::string format;
  for (size_t k = 0; k < t.printed.size(); ++k) {
    const Printed &p = t.printed[k];
    format += t.before[k];
    format += '%';
    if (!in_order) format += std::to_string(p.param) + "$";
    format += p.shape;
  }
  format += t.pieces;
  return format;
}

// The length of the padding mark $<...> at text[i], or 0 when there is none.
size_t PaddingAt(std::string_view text, size_t i) {
  if (i + 1 >= text.size() || text[i] != '$' || text[i + 1] != '<') return 0;
  size_t j = i + 2;
  while (j < text.size() && OneOf(text[j], "0123456789.*/")) ++j;
  return j < text.size() && text[j] == '>' ? j + 1 - i : 0;
}

}  // namespace

std::string StripPadding(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (size_t padding = PaddingAt(text, i)) {
      i += padding;
      continue;
    }
    out += text[i++];
  }
  return out;
}

CursorFormat TranslateCursor(std::string_view cup) {
  CursorFormat result;
  std::string_view text = cup;
  Translation t;
  for (size_t i = 0; i < text.size() && t.error.empty();) {
    // Padding is dropped where it stands between operations; inside one
    // ("%$<2>d") it is no padding, and the operation is refused.
    if (size_t padding = PaddingAt(text, i)) {
      i += padding;
      continue;
    }
    if (text[i] != '%') {
      AppendLiteral(t.pieces, std::string_view(&text[i], 1));
      ++i;
      continue;
    }
    ++i;
    Operation(t, text, i);
  }
  if (!t.error.empty()) {
    result.reason = t.error;
    return result;
  }
  bool row = false, column = false;
  for (const Printed &p : t.printed) {
    if (p.offset != t.printed[0].offset) {
      result.reason = "prints the coordinates with different offsets";
      return result;
    }
    (p.param == 1 ? row : column) = true;
  }
  if (!row || !column) {
    result.reason = !row && !column ? "prints neither coordinate"
                    : !row          ? "does not print the row"
                                    : "does not print the column";
    return result;
  }
  int offset = t.printed[0].offset;
  if (offset < -128 || offset > 127) {
    result.reason = "adds " + std::to_string(offset) + " to the coordinates (more than a signed byte holds)";
    return result;
  }
  result.ok = true;
  result.format = Assemble(t);
  result.start = offset == 1 ? 1 : 0;
  result.cmpar = offset == 1 ? 0 : offset;
  return result;
}

}  // namespace tcptable
