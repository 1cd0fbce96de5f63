// How a field's value is written into a record, and read back for editing.
//
// A stored field takes exactly its length in the record:
//   - numbers (types 1 to 5, with type - 1 decimals) right-aligned and
//     blank-filled, with exactly their decimals: "12.5" in a 10-character
//     field of type 3 is "     12.50";
//   - dates (types 8 and 9) as ddmmyyyy, left-aligned; "05/01/2024" and
//     "05012024" are both taken;
//   - everything else (text, keys) left-aligned and blank-filled, as given.
// An empty value is all blanks. The first field of a detail line is always
// left-aligned: a line whose first byte is a blank reads as deleted.
#ifndef QUERY_STORED_VALUE_H_
#define QUERY_STORED_VALUE_H_

#include <string>
#include <string_view>

#include "form.h"

// How the field is aligned when it is the first field of a detail line.
enum class FieldPlace { kAnywhere, kFirstOfLine };

// The `def.length` bytes `value` is stored as. False with `why` set (for
// instance "is 12 characters wide; the field holds 10", "holds a line feed",
// "is not a date ddmmyyyy") when the value cannot be stored in the field.
bool FormatStoredValue(const FieldDef& def, FieldPlace place, std::string_view value, std::string* out,
                       std::string* why);

// The value a stored field's bytes show to a person editing it: without the
// blanks that fill it (and without anything from a NUL on).
std::string ValueOfStored(std::string_view bytes);

// True for the types stored as numbers, and their decimals.
inline bool IsNumberType(int type) { return type >= 1 && type <= 5; }
inline int NumberDecimals(int type) { return type - 1; }
inline bool IsDateType(int type) { return type == 8 || type == 9; }

#endif  // QUERY_STORED_VALUE_H_
