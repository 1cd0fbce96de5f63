// The query's output: one large buffer written to a file descriptor, or
// gathered in memory, or handed on whole buffer by whole buffer.
#ifndef QUERY_OUTPUT_H_
#define QUERY_OUTPUT_H_

#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "short_copy.h"

// Output gathered as the buffers it filled, in order: a chunk of a
// several-thread walk, written out when its turn comes. Buffers written out
// go back to `spare`, so that a run allocates only as many as are in flight.
struct OutputBlocks {
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
  };
  std::vector<Block> filled;
  std::vector<std::unique_ptr<char[]>> spare;
  // Called each time a buffer is added to `filled`, before the next one is
  // taken from `spare`: a chunk whose turn to be written has come writes its
  // buffers out here and takes the one just filled back, still in the cache.
  std::function<void()> on_filled;
  // Moves every filled buffer to `spare`.
  void Recycle() {
    for (Block& block : filled) spare.push_back(std::move(block.bytes));
    filled.clear();
  }
};

// Output through one large buffer written to a file descriptor.
class Output {
 public:
  static constexpr size_t kCapacity = 1 << 16;

  explicit Output(int fd) : fd_(fd), buffer_(NewBuffer()) {}
  // Output gathered in memory, appended to `*memory`.
  explicit Output(std::string* memory) : memory_(memory), buffer_(NewBuffer()) {}
  // Output handed over as whole buffers, appended to `blocks->filled`
  // (taken from `blocks->spare` while it has some).
  explicit Output(OutputBlocks* blocks) : blocks_(blocks), buffer_(TakeBuffer(blocks)) {}
  ~Output();
  void Append(std::string_view text) {
    if (size_ + text.size() > kCapacity) {
      Flush();
      // Text larger than the buffer goes out as it is.
      if (text.size() > kCapacity) return Write(text.data(), text.size());
    }
    CopyShort(buffer_.get() + size_, text.data(), text.size());
    size_ += text.size();
  }
  // The same bytes as Append, written straight out after what is buffered
  // rather than copied into the buffer: for large pieces.
  void AppendThrough(std::string_view text) {
    Flush();
    Write(text.data(), text.size());
  }
  void Put(char c) {
    if (size_ >= kCapacity) Flush();
    buffer_[size_++] = c;
  }
  void Flush();
  // The error number of the first write that failed, 0 while none has.
  int write_error() const { return write_error_; }

 private:
  static std::unique_ptr<char[]> NewBuffer() { return std::make_unique_for_overwrite<char[]>(kCapacity); }
  static std::unique_ptr<char[]> TakeBuffer(OutputBlocks* blocks);
  // Writes all of [bytes, bytes + n), or up to a failure, which it records.
  void Write(const char* bytes, size_t n);
  int fd_ = -1;
  std::string* memory_ = nullptr;
  OutputBlocks* blocks_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t size_ = 0;
  int write_error_ = 0;
};

#endif  // QUERY_OUTPUT_H_
