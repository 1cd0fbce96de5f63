// Helpers for the terminal library's tests: running library code in a child
// process with its standard input and output redirected, and setting table
// entries.
#ifndef TCP_TESTS_HARNESS_H_
#define TCP_TESTS_HARNESS_H_

#include <functional>
#include <string>

struct ChildRun {
  int status = -1;  // exit status; 128 + signal number when killed
  std::string out;  // every byte written to standard output
};

// Runs `body` in a child process whose standard input reads `input` and then
// meets its end, and whose standard output is captured. The child starts
// with the parent's library state, may change it freely, and is killed after
// `seconds_allowed` seconds. Returning from `body` exits with status 0.
ChildRun RunInChild(const std::string &input, const std::function<void()> &body,
                    unsigned seconds_allowed = 10);

// Sets entry `entry` of the terminal table to `bytes` (at most 9).
void SetEntry(int entry, const std::string &bytes);

// Sets a readable table for output tests: the cursor address "[row;col]",
// the message frame "<" and ">", the message row 23, and box pieces
// B E 1 2 3 4 | - for begin, end and the corners top right, top left,
// bottom left, bottom right. Key entries are left empty and TICS is 0.
void SetReadableTable();

// A readable cursor address as SetReadableTable's entry 1 writes it.
std::string At(int row, int column);

#endif  // TCP_TESTS_HARNESS_H_
