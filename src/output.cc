#include "output.h"

#include <unistd.h>

#include <cerrno>

void Output::Write(const char* bytes, size_t size) {
  if (memory_ != nullptr) {
    memory_->append(bytes, size);
    return;
  }
  if (large_memory_ != nullptr) {
    large_memory_->append(bytes, size);
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
