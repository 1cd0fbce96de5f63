#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr char kPseudoReason[] = "a file of the proc or sys pseudo-filesystem";

}  // namespace

bool OnPseudoFilesystem(int fd) {
#ifdef __linux__
  struct statfs fs;
  if (fstatfs(fd, &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
#ifdef DEBUGFS_MAGIC
    case DEBUGFS_MAGIC:
#endif
#ifdef SECURITYFS_MAGIC
    case SECURITYFS_MAGIC:
#endif
#ifdef CGROUP_SUPER_MAGIC
    case CGROUP_SUPER_MAGIC:
#endif
#ifdef CGROUP2_SUPER_MAGIC
    case CGROUP2_SUPER_MAGIC:
#endif
      return true;
    default:
      return false;
  }
#else
  (void)fd;
  return false;
#endif
}

ReadResult ReadWholeFile(const std::string& path, std::string* out, size_t max_size) {
  out->clear();
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kUnreadable;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return ReadResult::kNotRegular;
  }
  if (OnPseudoFilesystem(fd)) {
    close(fd);
    return ReadResult::kPseudoFile;
  }
  // The size the file claims only sizes the first reservation; the reads
  // themselves stop one byte past the limit.
  if (st.st_size > 0) out->reserve(std::min<size_t>(static_cast<size_t>(st.st_size), max_size) + 1);
  char block[65536];
  for (;;) {
    if (out->size() > max_size) {
      close(fd);
      out->clear();
      return ReadResult::kTooLarge;
    }
    const size_t room = std::min(sizeof block, max_size + 1 - out->size());
    ssize_t n = read(fd, block, room);
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
    case ReadResult::kPseudoFile: return std::string("cannot be opened: ") + kPseudoReason;
    case ReadResult::kTooLarge: return "is too large";
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
  if (OnPseudoFilesystem(fd)) {
    *why = kPseudoReason;
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
