#include "file_io.h"

#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

constexpr char kPseudoReason[] = "a file of the proc or sys pseudo-filesystem";

// The most of a file VisitMapped maps at once.
constexpr size_t kMapWindow = 1 << 20;

// Where a bus error, the fault of touching a mapped page its file no longer
// holds, returns to while VisitMapped walks a mapping on this thread.
thread_local sigjmp_buf* bus_error_return = nullptr;

// Set once the program has asked for mapped reads and the handler is in place.
std::atomic<bool> mapped_reads_enabled{false};

// A bus error inside a mapped walk returns into it; any other ends the
// process by the signal, as it would have without the handler.
extern "C" void ReturnOnBusError(int) {
  if (bus_error_return != nullptr) siglongjmp(*bus_error_return, 1);
  signal(SIGBUS, SIG_DFL);
}

// True when SIGBUS is blocked on this thread: a fault would then end the
// process whatever the handler, so nothing may be mapped.
bool BusErrorBlocked() {
  sigset_t mask;
  return pthread_sigmask(SIG_SETMASK, nullptr, &mask) != 0 || sigismember(&mask, SIGBUS) == 1;
}

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
  // Anything but a regular file is refused before it is opened: opening a
  // device can act on it.
  struct stat before;
  if (stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) return ReadResult::kNotRegular;
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

std::string ForeignLinkReason(const std::string& path, const struct stat& target) {
  struct stat link;
  if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid == target.st_uid) return {};
  return "a symbolic link owned by user " + std::to_string(link.st_uid) + " to a file of user " +
         std::to_string(target.st_uid) + "; such a link is followed only when one user owns both";
}

int OpenRegularFile(const std::string& path, int flags, std::string* why, LinkRule links) {
  // The type is checked before the open, so that no device is ever opened
  // (opening one can act on it), and again on what was opened.
  struct stat before;
  const bool seen = stat(path.c_str(), &before) == 0;
  if (seen && !S_ISREG(before.st_mode)) {
    *why = "not a regular file";
    return -1;
  }
  if (seen && links == LinkRule::kFollowIfSameOwner) {
    *why = ForeignLinkReason(path, before);
    if (!why->empty()) return -1;
  }
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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
  // The file opened must be the one checked: a link swapped in between the
  // check and the open is refused.
  if (links == LinkRule::kFollowIfSameOwner && (!seen || st.st_dev != before.st_dev || st.st_ino != before.st_ino)) {
    *why = "replaced while it was being opened";
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

bool FindDataExtents(int fd, int64_t size, size_t max_extents, std::vector<DataExtent>* extents) {
  extents->clear();
  if (size <= 0 || max_extents == 0) return false;
  if (NextHoleOffset(fd, 0) >= size) return false;
  int64_t at = 0;
  while (at < size) {
    const off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0 || data >= size) break;  // ENXIO: only a hole from here on
    off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0 || hole > size) hole = size;
    if (extents->size() + 1 == max_extents) hole = size;
    extents->push_back({data, hole});
    at = hole;
  }
  return true;
}

int64_t NextDataOffset(int fd, int64_t offset) {
  const off_t data = lseek(fd, offset, SEEK_DATA);
  if (data >= 0) return data;
  return errno == ENXIO ? -1 : offset;
}

int64_t NextHoleOffset(int fd, int64_t offset) {
  const off_t hole = lseek(fd, offset, SEEK_HOLE);
  if (hole >= 0) return hole;
  struct stat st;
  return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : offset;
}

bool EnableMappedReads() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = ReturnOnBusError;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGBUS, &action, nullptr) != 0) return false;
  sigset_t bus;
  sigemptyset(&bus);
  sigaddset(&bus, SIGBUS);
  if (pthread_sigmask(SIG_UNBLOCK, &bus, nullptr) != 0) return false;
  mapped_reads_enabled = true;
  return true;
}

bool MappedReadsEnabled() { return mapped_reads_enabled; }

int64_t VisitMapped(int fd, int64_t size, size_t piece, bool (*visit)(const char* bytes, size_t n, void* context),
                    void* context) {
  if (size <= 0 || piece == 0 || static_cast<uint64_t>(size) > SIZE_MAX / 2 || piece > SIZE_MAX / 4) return -1;
  if (!mapped_reads_enabled || BusErrorBlocked()) return -1;
  const size_t length = static_cast<size_t>(size);
  const long page_size = sysconf(_SC_PAGESIZE);
  const size_t page = page_size > 0 ? static_cast<size_t>(page_size) : 4096;
  // The file is mapped a window at a time, so that its pages never count
  // against the process's memory beyond one window.
  const size_t window = (std::max(kMapWindow, piece + page) + page - 1) / page * page;
  sigjmp_buf jump;
  sigjmp_buf* const outer = bus_error_return;
  bus_error_return = &jump;
  // Read again after a bus error returns here.
  volatile size_t done = 0;
  void* volatile map = MAP_FAILED;
  volatile size_t span = 0;
  volatile bool mapped_any = false;
  if (sigsetjmp(jump, 1) == 0) {
    bool stop = false;
    while (!stop && done < length) {
      const size_t base = done / page * page;
      span = std::min(window, length - base);
      map = mmap(nullptr, span, PROT_READ, MAP_PRIVATE, fd, static_cast<off_t>(base));
      if (map == MAP_FAILED) break;
      mapped_any = true;
      const char* window_start = static_cast<const char*>(map);
      // The pieces that end in this window; the file's last piece may be short.
      while (!stop && done < length && std::min(done + piece, length) <= base + span) {
        const size_t n = std::min(piece, length - done);
        stop = visit(window_start + (done - base), n, context);
        done = done + n;
      }
      munmap(map, span);
      map = MAP_FAILED;
    }
  } else if (map != MAP_FAILED) {
    // A page the file no longer holds: the piece being visited is not
    // counted, and the caller reads it again, coming up short where the
    // file now ends.
    munmap(map, span);
    mapped_any = true;
  }
  bus_error_return = outer;
  return mapped_any ? static_cast<int64_t>(done) : -1;
}
