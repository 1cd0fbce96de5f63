// Query arguments, their matching, and the selection they make.
#include "selection.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <utility>

#include "escape.h"

namespace {

// The field number: up to two characters read as a decimal integer, with
// leading blanks and a sign allowed ('h 5;', 'h-1;').
int ParseFieldNumber(std::string_view digits) {
  char text[3] = {0, 0, 0};
  digits.copy(text, 2);
  return std::atoi(text);
}

}  // namespace

QueryArgument ParseQueryArgument(std::string_view text) {
  QueryArgument arg;
  arg.text = std::string(text);
  if (!text.empty()) arg.letter = text[0];
  if (text.size() > 1) arg.field = ParseFieldNumber(text.substr(1, 2));
  if (text.size() > 3) {
    arg.separator = text[3];
    arg.has_separator = true;
  }
  if (text.size() > 4) {
    arg.search = std::string(text.substr(4));
    for (char& c : arg.search) c = LowerAscii(c);
  }
  return arg;
}

bool MatchesField(std::string_view text, int length, std::string_view needle) {
  if (length < 0) length = 0;
  if (text.size() > static_cast<size_t>(length)) text = text.substr(0, static_cast<size_t>(length));
  if (needle.empty() || needle.size() > text.size()) return false;
  // Candidates start with the needle's first character in either case.
  const char lower = needle[0];
  const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 32) : lower;
  const char* const last = text.data() + (text.size() - needle.size());
  // Eight candidates are tested as one word: a letter's two cases differ in
  // bit 5 only, so setting that bit in every byte finds both, and exactly
  // them; any other first character is compared as it is.
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  const uint64_t fold = lower != upper ? kOnes * 0x20 : 0;
  const uint64_t want = kOnes * static_cast<unsigned char>(lower);
  const char* p = text.data();
  while (p <= last) {
    if (last - p >= 7) {  // the word's bytes lie within the text
      uint64_t word;
      std::memcpy(&word, p, 8);
      const uint64_t diff = (word | fold) ^ want;
      const uint64_t hits = (diff - kOnes) & ~diff & (kOnes * 0x80);
      if (hits == 0) {
        p += 8;
        continue;
      }
      // The lowest flagged byte is the first candidate: no borrow reaches it.
      if constexpr (std::endian::native == std::endian::little) p += std::countr_zero(hits) / 8;
    }
    if (*p == lower || *p == upper) {
      size_t j = 1;
      while (j < needle.size() && LowerAscii(p[j]) == needle[j]) ++j;
      if (j == needle.size()) return true;
    }
    ++p;
  }
  return false;
}

QueryArgument MakeQueryArgument(char letter, int field, char separator, std::string_view search) {
  QueryArgument arg;
  arg.letter = letter;
  arg.field = field;
  arg.has_separator = separator != '\0' || !search.empty();
  arg.separator = separator;
  arg.search = std::string(search);
  for (char& c : arg.search) c = LowerAscii(c);
  char number[16];
  std::snprintf(number, sizeof number, "%02d", field);
  arg.text = std::string(1, letter) + number + (arg.has_separator ? std::string(1, separator) : "") +
             std::string(search);
  return arg;
}

// ---- Selection

Selection::Selection(std::vector<QueryArgument> arguments) : arguments_(std::move(arguments)) {
  size_t last_searched = 0;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (arguments_[i].search.empty()) continue;
    searched_.push_back(i);
    last_searched = i;
  }
  accept_all_ = !arguments_.empty() && !arguments_[0].search.empty() && arguments_[0].search[0] == '*';
  shortcut_ = !arguments_.empty() && !arguments_[0].search.empty() && last_searched == 0;
}

Selection Selection::FromText(const std::vector<std::string>& texts) {
  std::vector<QueryArgument> arguments;
  arguments.reserve(texts.size());
  for (const std::string& text : texts) arguments.push_back(ParseQueryArgument(text));
  return Selection(std::move(arguments));
}

std::vector<int> Selection::SearchedFields() const {
  std::vector<int> fields;
  for (size_t i : searched_) fields.push_back(arguments_[i].field);
  return fields;
}

std::string Selection::KeyShortcutProbe(int key_length) const {
  if (!shortcut_ || key_length <= 0) return {};
  std::string probe = arguments_[0].search;
  if (probe.size() < static_cast<size_t>(key_length)) probe.resize(static_cast<size_t>(key_length), ' ');
  return probe;
}

bool Selection::AcceptsHeaderOnly(const Form& form, const RecordValues& values) const {
  if (accept_all_) return true;
  for (size_t i : searched_) {
    const QueryArgument& arg = arguments_[i];
    int length = arg.field >= 0 && arg.field < form.header_count ? form.ph[arg.field].length : 0;
    if (!MatchesField(values.HeaderText(arg.field), length, arg.search)) return false;
  }
  return true;
}

bool Selection::AcceptsLine(const Form& form, const RecordValues& values, int line) const {
  if (accept_all_) return true;
  for (size_t i : searched_) {
    const QueryArgument& arg = arguments_[i];
    bool matched = false;
    if (arg.IsHeader()) {
      int length = arg.field >= 0 && arg.field < form.header_count ? form.ph[arg.field].length : 0;
      matched = MatchesField(values.HeaderText(arg.field), length, arg.search);
    } else if (arg.IsDetail()) {
      int length = arg.field >= 0 && arg.field < form.field_count ? form.detail(line, arg.field).length : 0;
      matched = MatchesField(values.DetailText(line, arg.field), length, arg.search);
    }
    if (!matched) return false;
  }
  return true;
}

namespace {

// True when the argument holds two digits, or a blank and a digit, after its
// letter: a field number as the usage has it.
bool HasTwoDigitNumber(std::string_view text) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return text.size() >= 3 && (text[1] == ' ' || digit(text[1])) && digit(text[2]);
}

}  // namespace

// An argument whose field number its part does not have reads as empty text
// of length 0: it prints nothing and its search text never matches. One whose
// number characters are no two-digit number ('hxx;', 'h5;abc') is read all
// the same, but said, since the field, separator and search text it gets are
// likely not the ones meant.
std::vector<std::string> Selection::Warnings(const Form& form) const {
  std::vector<std::string> warnings;
  for (const QueryArgument& arg : arguments_) {
    // The argument is a stranger's text: its control bytes are shown escaped.
    const std::string text = EscapeControlBytes(arg.text);
    if (arg.IsHeader() && (arg.field < 0 || arg.field >= form.header_count)) {
      warnings.push_back("argument '" + text + "' names header field " + std::to_string(arg.field) +
                         ", but the form has " + std::to_string(form.header_count) +
                         " header fields; it reads as empty text");
    } else if (arg.IsDetail() && (arg.field < 0 || arg.field >= form.field_count)) {
      warnings.push_back("argument '" + text + "' names detail field " + std::to_string(arg.field) +
                         ", but the form has " + std::to_string(form.field_count) +
                         " fields per detail line; it reads as empty text");
    } else if ((arg.IsHeader() || arg.IsDetail()) && !HasTwoDigitNumber(arg.text)) {
      warnings.push_back("argument '" + text + "' has no two-digit field number after its letter; it reads as " +
                         (arg.IsHeader() ? "header" : "detail") + " field " + std::to_string(arg.field) +
                         (arg.has_separator ? " with the separator '" +
                                                  EscapeControlBytes(std::string_view(&arg.separator, 1)) + "'"
                                            : std::string(" without a separator")));
    }
  }
  return warnings;
}
