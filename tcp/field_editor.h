// Field editor: input (tcp.h) edits one field of a screen form.
//
// It draws the field as underscores, shows the caller's text, reads keys with
// getin1, echoes and edits the text in the caller's buffer under the rules
// of the field's type, and returns the key that ended editing. A numeric
// field (types 1 to 5) is then redrawn through punto; a date field (types 8
// and 9) is checked, redrawn as dd/mm/yyyy and stored as ddmmyyyy, or
// refused with a message on the message row and the result 101. Field text
// is written through cell_output.h, so the composed accents are echoed as
// UTF-8 while `tcputf8` is set; the buffer always holds code page 437.
//
// Limits: a width above 255 counts as 255 and a negative one as 0. An initial
// text longer than the width is kept whole and shown as it is, and the field
// counts as full until it is shorter than the width. A date year must come
// out between 1901 and 9999, so the stored form always has 8 characters. End
// of input ends editing as KEY_ESCAPE. Standard output is flushed before
// every key is awaited and before input returns.
//
// Also exposed here, for tests: the date check and the key tables.
#ifndef TCP_FIELD_EDITOR_H_
#define TCP_FIELD_EDITOR_H_

#include <string>

namespace tcplib {

inline constexpr int kMaxFieldWidth = 255;  // cells of the widest field
inline constexpr int kDateRefused = 101;    // result of input for a refused date

// The part of a date that is refused first, in the order day, month, year.
enum class DateFault { kNone, kDay, kMonth, kYear };

struct Date {
  int day = 0;
  int month = 0;
  int year = 0;  // with the two-digit window applied
};

// Reads `text` as day, month and year the way scanf reads "%2d%2d%d" (parts
// that cannot be read stay 0), maps a year of 14 or less to 20yy and one of
// 15 to 99 to 19yy, and checks the date. Years up to 1900 and from 10000 on
// are refused; a year divisible by 4 is a leap year.
DateFault CheckDate(const char *text, Date *date);

// CheckDate with the year window of the mode's date part: a year of 0 to 99
// becomes the one within 50 years of `this_year` (0: the described mapping).
DateFault CheckDateWindowed(const char *text, Date *date, int this_year);

// The display form of `date` in at most `cells` cells: dd/mm/yyyy, else
// dd/mm/yy, else a run of `cells` '*'.
std::string DateDisplay(const Date &date, int cells);

// The code page 437 byte that the apostrophe and then `key` compose, or 0
// when `key` composes nothing.
int AccentedKey(int key);

// True for the key codes that always end editing (the caller's exit key is
// not among them).
bool IsEndingKey(int code);

}  // namespace tcplib

#endif  // TCP_FIELD_EDITOR_H_
