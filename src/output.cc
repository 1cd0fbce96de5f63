#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

std::unique_ptr<char[]> Output::TakeBuffer(OutputBlocks* blocks) {
  if (blocks->spare.empty()) return NewBuffer();
  std::unique_ptr<char[]> buffer = std::move(blocks->spare.back());
  blocks->spare.pop_back();
  return buffer;
}

Output::~Output() {
  if (blocks_ == nullptr) {
    Flush();
    return;
  }
  // The last buffer is handed over without taking another.
  if (size_ > 0) {
    blocks_->filled.push_back({std::move(buffer_), size_});
  } else {
    blocks_->spare.push_back(std::move(buffer_));
  }
}

void Output::Flush() {
  if (blocks_ != nullptr) {
    // The full buffer is handed over as it is; the next one is a spare.
    if (size_ == 0) return;
    blocks_->filled.push_back({std::move(buffer_), size_});
    if (blocks_->on_filled) blocks_->on_filled();
    buffer_ = TakeBuffer(blocks_);
    size_ = 0;
    return;
  }
  Write(buffer_.get(), size_);
  size_ = 0;
}

void Output::Write(const char* bytes, size_t size) {
  if (memory_ != nullptr) {
    memory_->append(bytes, size);
    return;
  }
  if (blocks_ != nullptr) {
    // Text larger than a buffer, cut into buffers of its own.
    for (size_t done = 0; done < size;) {
      const size_t n = std::min(kCapacity, size - done);
      std::memcpy(buffer_.get(), bytes + done, n);
      size_ = n;
      Flush();
      done += n;
    }
    return;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (write_error_ == 0) write_error_ = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
}
