// The printed lines of a query as text, JSON Lines or CSV.
//
// A row is what the query prints as one line: for each argument, in order,
// its field's text (a header field, or a detail field of the line; nothing
// for a detail field of a record without lines) and its separator.
//
//   text  the query's own bytes, separators and '\n' included, unconverted.
//   json  one JSON object per line: each argument's field by its id, in
//         argument order; separators are left out. A field with no text in
//         this row (a detail field of a record without lines, a letter other
//         than h or d) is null.
//   csv   RFC 4180: a header row of the ids, then one record per row, CRLF
//         line ends, cells quoted when they hold '"', ',', CR or LF. A cell
//         that a spreadsheet would run as a formula (it begins with '=', '+',
//         '-', '@', a tab or a CR, and is not a plain number) gets a leading
//         apostrophe, so it shows as text.
//
// Ids: the argument's letter in lower case and its field number in at least
// two digits ("h00", "d01"). An id that an earlier argument already took is
// suffixed with "#2", "#3", ... by its occurrence ("h00", "h00#2").
// JSON and CSV text is converted to UTF-8 by the given converter.
#ifndef QUERY_ROW_FORMAT_H_
#define QUERY_ROW_FORMAT_H_

#include <string>
#include <string_view>
#include <vector>

#include "record_values.h"
#include "selection.h"
#include "text_encoding.h"

enum class RowFormat { kText, kJson, kCsv };

// "text", "json" or "csv"; false for anything else.
bool ParseRowFormat(std::string_view name, RowFormat* format);

// The ids of `arguments`, by the rule above.
std::vector<std::string> ColumnIds(const std::vector<QueryArgument>& arguments);

// `utf8` as a JSON string literal, quotes included; control characters, '"'
// and '\\' escaped, and '<', '>', '&' as \u escapes so that the literal is
// safe inside HTML as well.
void AppendJsonString(std::string_view utf8, std::string* out);
// `utf8` as one CSV cell, by the rule above.
void AppendCsvCell(std::string_view utf8, std::string* out);

class RowWriter {
 public:
  // `converter` must outlive the writer; it is not used for text.
  RowWriter(RowFormat format, std::vector<QueryArgument> arguments, const Utf8Converter* converter);

  // What precedes the first row: the CSV header row; nothing otherwise.
  void Begin(std::string* out) const;
  // Appends the row of detail line `line` of `values`, or of the header
  // alone when `line` is -1.
  void Row(const RecordValues& values, int line, std::string* out) const;

 private:
  void TextRow(const RecordValues& values, int line, std::string* out) const;
  void JsonRow(const RecordValues& values, int line, std::string* out) const;
  void CsvRow(const RecordValues& values, int line, std::string* out) const;
  // The field text argument `i` prints in this row; false when it prints none.
  bool FieldOf(size_t i, const RecordValues& values, int line, std::string_view* text) const;

  RowFormat format_;
  std::vector<QueryArgument> arguments_;
  std::vector<std::string> ids_;
  const Utf8Converter* converter_;
};

#endif  // QUERY_ROW_FORMAT_H_
