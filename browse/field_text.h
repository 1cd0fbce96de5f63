// How a field's value shows on the screen: numbers in their display form,
// dates as dd/mm/yyyy, every other field as its text, in a fixed number of
// cells.
#ifndef BROWSE_FIELD_TEXT_H_
#define BROWSE_FIELD_TEXT_H_

#include <string>
#include <string_view>

#include "form.h"

// The cells a field takes: its length; 10 for a date (types 8 and 9); for a
// header key field also a blank and its description, as its value holds them.
int DisplayWidth(const Form& form, const FieldDef& def, bool header);

// The value `text` of a field with definition `def`, exactly `width` cells:
// types 1 to 5 through punto with type - 1 decimals, and calculated fields
// (type 30) holding a number through punto with 2 decimals, right-aligned (a
// number too wide for its cells shows as '*' in every cell rather than cut
// to wrong digits); other calculated text ("/BY0") right-aligned; types 8
// and 9 holding ddmmyyyy as dd/mm/yyyy; anything else as its text. Cut or
// padded with blanks to `width`; 7-bit control bytes show as '?'.
std::string DisplayText(const FieldDef& def, std::string_view text, int width);

// True for the fields whose values are right-aligned (numbers, calculated).
bool IsRightAligned(const FieldDef& def);

// `shown` (a DisplayText) cut to the `width` cells left of the screen's
// edge: a right-aligned value that would lose a character there shows as
// '*' in every cell instead, never as cut digits.
std::string CutAtEdge(const FieldDef& def, const std::string& shown, int width);

#endif  // BROWSE_FIELD_TEXT_H_
