// A copy of the example store whose client names hold what a stranger may
// type into a store: accented letters in code page 437, HTML markup and a
// script, quotes and '&', a spreadsheet formula and control bytes.
#ifndef SERVE_TESTS_TEST_STORE_H_
#define SERVE_TESTS_TEST_STORE_H_

#include <string>

// The names written into clients.db, in code page 437 bytes, by client.
//   C00002 (invoices 000102, 000109): accents, '&' and quotes
//   C00003 (000103, 000110): a script element
//   C00004 (000105, 000111): a formula
//   C00005 (000107): an escape sequence and a bell
extern const char kAccentedName[];   // "Ferreter\xA1a Nu\xA4ez & \"Q\""
extern const char kAccentedNameUtf8[];
extern const char kScriptName[];     // "<script>pwned=1</script>"
extern const char kFormulaName[];    // "=HYPERLINK(\"x\")"
extern const char kControlName[];    // "\x1b[31mRed\x07"
// The description of article A0000002 (invoices 000101, 000106):
// "Tuerca N\xA7" "4 ca\xA4" "er\xA1" "a", accents in a detail line.
extern const char kAccentedArticle[];
extern const char kAccentedArticleUtf8[];  // "Tuerca Nº4 cañería"

// Copies every file of `examples_dir` into `dir` (which must exist) and
// writes the names above. False with `error` set when a file cannot be
// read or written.
bool WriteHostileStore(const std::string& examples_dir, const std::string& dir, std::string* error);

#endif  // SERVE_TESTS_TEST_STORE_H_
