// The formula file `<form>.c0` taken apart into entries: section letter,
// target and formula text, as the reading steps see them. An entry is
// usually one line of the file, but a target scan that crosses a line end
// takes the next line's text with it; "line" elsewhere in the engine means a
// detail line of a document. The format is
// written up in doc/formula_format.md.
#ifndef QUERY_FORMULA_FILE_H_
#define QUERY_FORMULA_FILE_H_

#include <string>
#include <string_view>
#include <vector>

// One entry of a formula file as the reading steps take it apart.
struct FormulaEntry {
  char section = '\0';      // 'h' header, 'd' detail; anything else is inert
  bool has_target = false;  // false when no target number could be read
  int target = 0;           // -9 to 99
  std::string target_text;  // what the target scan consumed (white space included)
  std::string text;         // the formula, trailing blanks dropped, cut at a NUL
  bool had_nul = false;     // a NUL byte cut the text short
  int line_number = 0;      // line of the file holding the section letter, from 1
  int text_line_number = 0; // line holding the formula text (later when the scan crossed lines)
};

// Splits formula file text into entries by the reading steps: one character of
// section letter, a target read as a decimal integer of at most two characters
// after white space (line ends included), then the rest up to the line feed.
// Never fails: every byte of `text` ends up in some entry.
std::vector<FormulaEntry> ReadFormulaEntries(std::string_view text);

#endif  // QUERY_FORMULA_FILE_H_
