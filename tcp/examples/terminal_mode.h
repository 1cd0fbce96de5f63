// Key-at-a-time terminal mode for the example programs.
//
// The library sets no terminal mode; a program that edits fields puts its
// terminal in non-canonical mode without echo, so that every key reaches it
// at once and only the program draws. The mode is restored on destruction.
#ifndef TCP_EXAMPLES_TERMINAL_MODE_H_
#define TCP_EXAMPLES_TERMINAL_MODE_H_

#include <termios.h>
#include <unistd.h>

class KeyMode {
 public:
  KeyMode() {
    saved_ = tcgetattr(0, &original_) == 0;
    if (!saved_) return;
    termios keys = original_;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;
    tcsetattr(0, TCSANOW, &keys);
  }
  ~KeyMode() {
    if (saved_) tcsetattr(0, TCSANOW, &original_);
  }
  KeyMode(const KeyMode &) = delete;
  KeyMode &operator=(const KeyMode &) = delete;

 private:
  termios original_{};
  bool saved_ = false;
};

#endif  // TCP_EXAMPLES_TERMINAL_MODE_H_
