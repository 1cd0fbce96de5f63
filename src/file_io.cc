#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

ReadResult ReadWholeFile(const std::string& path, std::string* out) {
  out->clear();
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kUnreadable;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ReadResult::kNotRegular;
  }
  char block[65536];
  for (;;) {
    ssize_t n = read(fd, block, sizeof block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return ReadResult::kUnreadable;
    }
    if (n == 0) break;
    out->append(block, static_cast<size_t>(n));
  }
  close(fd);
  return ReadResult::kOk;
}

std::string DescribeReadFailure(ReadResult result) {
  switch (result) {
    case ReadResult::kOk: return "read";
    case ReadResult::kMissing: return "cannot be opened: no such file";
    case ReadResult::kNotRegular: return "cannot be opened: not a regular file";
    case ReadResult::kUnreadable: break;
  }
  return "cannot be opened or read";
}

int OpenRegularFile(const std::string& path, int flags, std::string* why) {
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    close(fd);
    return -1;
  }
  return fd;
}

ssize_t ReadAt(int fd, char* out, size_t n, int64_t offset) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = pread(fd, out + done, n - done, offset + static_cast<int64_t>(done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(done);
}
