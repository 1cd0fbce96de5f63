// Status: the outcome of an engine step, carried as a value up to `main`.
//
// Only `main` turns a failed Status into output and an exit status. A failure
// may carry the system's own text for standard output (for instance the store's
// permission message), a message for standard error, and a pause in seconds
// that the system makes before it exits.
#ifndef QUERY_STATUS_H_
#define QUERY_STATUS_H_

#include <string>
#include <utility>

class Status {
 public:
  Status() = default;
  static Status Ok() { return Status(); }

  // A failure reported on standard error as "query: <message>", exit status 1.
  static Status Error(std::string message) {
    Status s;
    s.failed_ = true;
    s.message_ = std::move(message);
    return s;
  }

  // Adds the system's own text, written on standard output before exiting.
  Status& WithStdout(std::string text) {
    stdout_text_ = std::move(text);
    return *this;
  }
  Status& WithPause(int seconds) {
    pause_seconds_ = seconds;
    return *this;
  }
  Status& WithExitStatus(int code) {
    exit_status_ = code;
    return *this;
  }

  bool ok() const { return !failed_; }
  const std::string& message() const { return message_; }
  const std::string& stdout_text() const { return stdout_text_; }
  int pause_seconds() const { return pause_seconds_; }
  int exit_status() const { return exit_status_; }

 private:
  bool failed_ = false;
  std::string message_;      // for standard error; empty means none
  std::string stdout_text_;  // the system's own message, if any
  int pause_seconds_ = 0;
  int exit_status_ = 1;
};

#endif  // QUERY_STATUS_H_
