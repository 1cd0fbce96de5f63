// How a field's value reads on a page: numbers in the terminal library's
// display form (1.234.567,89), dates as dd/mm/yyyy, other text as stored.
#ifndef SERVE_DISPLAY_VALUE_H_
#define SERVE_DISPLAY_VALUE_H_

#include <string>
#include <string_view>

#include "form.h"

// The display text of `text`, a value of a field defined by `def`, still in
// the store's bytes and without trailing blanks. Numeric types 1 to 5 show
// with type - 1 decimals; a calculated value that is a number shows with
// its two decimals (anything else it holds, "/BY0", as it is); types 8 and 9
// holding ddmmyyyy as dd/mm/yyyy. A blank number stays blank.
std::string DisplayValue(const FieldDef& def, std::string_view text);

// Whether the field's display is a number (for right alignment).
bool IsNumericField(const FieldDef& def);

#endif  // SERVE_DISPLAY_VALUE_H_
