// Status: the outcome of an engine step, carried as a value up to `main`.
//
// Only `main` turns a failed Status into output and an exit status. A failure
// may carry the system's own text for standard output (for instance the store's
// permission message), a message for standard error, and a pause in seconds
// that the system makes before it exits.
#ifndef QUERY_STATUS_H_
#define QUERY_STATUS_H_

#include <memory>
#include <string>
#include <utility>

class Status {
 public:
  Status() = default;
  Status(const Status& other) : failed_(other.failed_), details_(Copy(other.details_)) {}
  Status& operator=(const Status& other) {
    if (this != &other) {
      failed_ = other.failed_;
      details_ = Copy(other.details_);
    }
    return *this;
  }
  Status(Status&&) noexcept = default;
  Status& operator=(Status&&) noexcept = default;
  static Status Ok() { return Status(); }

  // A failure reported on standard error as "query: <message>", exit status 1.
  static Status Error(std::string message) {
    Status s;
    s.failed_ = true;
    s.Edit().message = std::move(message);
    return s;
  }

  // Adds the system's own text, written on standard output before exiting.
  Status& WithStdout(std::string text) {
    Edit().stdout_text = std::move(text);
    return *this;
  }
  Status& WithPause(int seconds) {
    Edit().pause_seconds = seconds;
    return *this;
  }
  Status& WithExitStatus(int code) {
    Edit().exit_status = code;
    return *this;
  }

  bool ok() const { return !failed_; }
  const std::string& message() const { return details_ ? details_->message : Empty(); }
  const std::string& stdout_text() const { return details_ ? details_->stdout_text : Empty(); }
  int pause_seconds() const { return details_ ? details_->pause_seconds : 0; }
  int exit_status() const { return details_ ? details_->exit_status : 1; }

 private:
  // What a failure carries. A success carries none, so making, passing and
  // dropping one costs no more than a flag and a pointer: the record loop
  // passes one up from every lookup.
  struct Details {
    std::string message;      // for standard error; empty means none
    std::string stdout_text;  // the system's own message, if any
    int pause_seconds = 0;
    int exit_status = 1;
  };
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }
  static std::unique_ptr<Details> Copy(const std::unique_ptr<Details>& details) {
    return details ? std::make_unique<Details>(*details) : nullptr;
  }
  Details& Edit() {
    if (!details_) details_ = std::make_unique<Details>();
    return *details_;
  }

  bool failed_ = false;
  std::unique_ptr<Details> details_;
};

#endif  // QUERY_STATUS_H_
