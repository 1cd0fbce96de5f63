// Reading the formula file into lines.
#include "formula_file.h"

namespace {

// White space as a decimal scan skips it.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::vector<FormulaEntry> ReadFormulaEntries(std::string_view text) {
  std::vector<FormulaEntry> lines;
  const size_t n = text.size();
  size_t pos = 0;
  int line_number = 1;
  while (pos < n) {
    FormulaEntry entry;
    entry.line_number = line_number;
    entry.section = text[pos++];
    if (entry.section == '\n') ++line_number;  // an empty line: its line feed is the letter

    // The target: white space (line ends too) skipped, then a decimal integer
    // of at most two characters, a sign counting as one.
    const size_t target_start = pos;
    while (pos < n && IsSpace(text[pos])) {
      if (text[pos] == '\n') ++line_number;
      ++pos;
    }
    const size_t width_start = pos;
    bool negative = false;
    if (pos < n && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    int value = 0;
    while (pos < n && pos - width_start < 2 && IsDigit(text[pos])) {
      value = value * 10 + (text[pos++] - '0');
      entry.has_target = true;
    }
    entry.target = negative ? -value : value;
    entry.target_text = std::string(text.substr(target_start, pos - target_start));
    // Where the text starts; a scan that ran to the end of the file took in no line.
    entry.text_line_number = pos < n ? line_number : entry.line_number;

    // The formula: the rest of the line; the line feed is consumed, not kept.
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = n;
    std::string_view formula = text.substr(pos, end - pos);
    size_t nul = formula.find('\0');
    if (nul != std::string_view::npos) {
      formula = formula.substr(0, nul);
      entry.had_nul = true;
    }
    while (!formula.empty() && formula.back() == ' ') formula.remove_suffix(1);
    entry.text = std::string(formula);
    if (end < n) {
      pos = end + 1;
      ++line_number;
    } else {
      pos = n;
    }
    lines.push_back(std::move(entry));
  }
  return lines;
}
