// The query's output: one large buffer written to a file descriptor, or
// gathered in memory.
#ifndef QUERY_OUTPUT_H_
#define QUERY_OUTPUT_H_

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "large_buffer.h"

// Text gathered in memory that may grow to megabytes (a chunk of a
// several-thread walk).
using LargeString = std::basic_string<char, std::char_traits<char>, LargeAllocator<char>>;

// Output through one large buffer written to a file descriptor.
class Output {
 public:
  explicit Output(int fd) : fd_(fd), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}
  // Output gathered in memory, appended to `*memory`.
  explicit Output(std::string* memory)
      : memory_(memory), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}
  explicit Output(LargeString* memory)
      : large_memory_(memory), buffer_(std::make_unique_for_overwrite<char[]>(kCapacity)) {}
  ~Output() { Flush(); }
  void Append(std::string_view text) {
    if (size_ + text.size() > kCapacity) {
      Flush();
      // Text larger than the buffer goes out as it is.
      if (text.size() > kCapacity) return Write(text.data(), text.size());
    }
    if (!text.empty()) std::memcpy(buffer_.get() + size_, text.data(), text.size());
    size_ += text.size();
  }
  void Put(char c) {
    if (size_ >= kCapacity) Flush();
    buffer_[size_++] = c;
  }
  void Flush() {
    Write(buffer_.get(), size_);
    size_ = 0;
  }
  // The error number of the first write that failed, 0 while none has.
  int write_error() const { return write_error_; }

 private:
  static constexpr size_t kCapacity = 1 << 16;
  // Writes all of [bytes, bytes + n), or up to a failure, which it records.
  void Write(const char* bytes, size_t n);
  int fd_ = -1;
  std::string* memory_ = nullptr;
  LargeString* large_memory_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t size_ = 0;
  int write_error_ = 0;
};

#endif  // QUERY_OUTPUT_H_
