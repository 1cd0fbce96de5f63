// Number display format: punto (tcp.h) turns the text of a number into its
// display form, the integer digits grouped in threes by '.', a leading '-'
// for a negative value and the decimals after ','.
//
// The value is read with "%lf" and rounded to the decimals by the standard
// fixed-point conversion before it is grouped, so 999.996 with two decimals
// gives 1.000,00. The display holds at most 11 integer digits: a value that
// needs more, or an infinite one, shows as a run of '*' as long as the
// longest display with those decimals (as a spreadsheet marks a number that
// does not fit its cell). punto is a pure function of its arguments.
#ifndef TCP_NUMBER_FORMAT_H_
#define TCP_NUMBER_FORMAT_H_

namespace tcplib {

inline constexpr int kMaxDecimals = 4;        // decimals shown at most (more count as 4)
inline constexpr int kMaxIntegerDigits = 11;  // integer digits shown at most

// Length of the longest display with `decimals` (0 to 4) decimals: sign, 11
// digits, 3 points, and the comma and decimals when there are any.
constexpr int LongestDisplay(int decimals) { return 15 + (decimals > 0 ? decimals + 1 : 0); }

}  // namespace tcplib

#endif  // TCP_NUMBER_FORMAT_H_
