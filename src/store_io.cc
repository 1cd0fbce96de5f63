// Writing a store's files, one reported step at a time.
#include "store_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "file_io.h"
#include "store_files.h"
#include "store_journal.h"

namespace {

constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

const char* StoreFileName(StoreFile file) {
  switch (file) {
    case StoreFile::kInfo: return kInfoFile;
    case StoreFile::kHead: return kHeadFile;
    case StoreFile::kDoc: return kDocFile;
    case StoreFile::kIndex: return kHeaderIndexFile;
    case StoreFile::kJournal: return kJournalFile;
  }
  return "?";
}

StoreIo::~StoreIo() {
  for (int& fd : fds_)
    if (fd >= 0) close(fd);
  if (dir_fd_ >= 0) close(dir_fd_);
}

Status StoreIo::Failed(const char* what, StoreFile file, int error) const {
  return Status::Error(std::string(StoreFileName(file)) + " in " + dir_ + " cannot be " + what + ": " +
                       std::strerror(error));
}

Status StoreIo::Open(const std::string& dir) {
  dir_ = dir;
  dir_fd_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd_ < 0) return Status::Error("the store's directory " + dir + " cannot be opened: " + std::strerror(errno));
  for (StoreFile f : {StoreFile::kInfo, StoreFile::kHead, StoreFile::kDoc, StoreFile::kIndex}) {
    int fd = openat(dir_fd_, StoreFileName(f), kOpenFlags);
    if (fd < 0 && f == StoreFile::kIndex && errno == ENOENT) continue;  // H is optional
    if (fd < 0) return Failed("opened for writing", f, errno == ELOOP ? ELOOP : errno);
    fds_[static_cast<int>(f)] = fd;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || OnPseudoFilesystem(fd))
      return Status::Error(std::string(StoreFileName(f)) + " in " + dir + " is not a regular file");
    if (f == StoreFile::kInfo) store_mode_ = st.st_mode & 0666;
  }
  return Status::Ok();
}

Status StoreIo::Step(WriteStep::Kind kind, StoreFile file) {
  if (hook_ != nullptr && *hook_ && !(*hook_)(WriteStep{kind, file})) {
    stopped_ = true;
    return Status::Error("the writer was stopped by its step hook");
  }
  return Status::Ok();
}

int64_t StoreIo::Size(StoreFile file) const {
  struct stat st;
  return has(file) && fstat(fd(file), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

Status StoreIo::Read(StoreFile file, int64_t offset, size_t n, std::string* out) const {
  out->assign(n, '\0');
  ssize_t got = has(file) ? ReadAt(fd(file), out->data(), n, offset) : 0;
  if (got < 0) return Failed("read", file, errno);
  out->resize(static_cast<size_t>(got));
  return Status::Ok();
}

Status StoreIo::Write(StoreFile file, int64_t offset, const std::string& bytes) {
  if (stopped_) return Status::Error("the writer was stopped");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = pwrite(fd(file), bytes.data() + done, bytes.size() - done, offset + static_cast<int64_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Failed("written", file, n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  return Step(WriteStep::Kind::kWrite, file);
}

Status StoreIo::Truncate(StoreFile file, int64_t size) {
  if (stopped_) return Status::Error("the writer was stopped");
  if (ftruncate(fd(file), size) != 0) return Failed("truncated", file, errno);
  return Step(WriteStep::Kind::kTruncate, file);
}

Status StoreIo::Flush(StoreFile file) {
  if (stopped_) return Status::Error("the writer was stopped");
  if (fdatasync(fd(file)) != 0) return Failed("flushed", file, errno);
  return Step(WriteStep::Kind::kFlush, file);
}

Status StoreIo::FlushDirectory() {
  if (stopped_) return Status::Error("the writer was stopped");
  if (fsync(dir_fd_) != 0) return Status::Error("the directory " + dir_ + " cannot be flushed: " + std::strerror(errno));
  return Step(WriteStep::Kind::kFlushDirectory, StoreFile::kJournal);
}

Status StoreIo::CreateJournal() {
  if (stopped_) return Status::Error("the writer was stopped");
  int fd = openat(dir_fd_, kJournalFile, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, store_mode_);
  if (fd < 0) return Failed("created", StoreFile::kJournal, errno);
  fds_[static_cast<int>(StoreFile::kJournal)] = fd;
  // The umask may have taken bits away; the journal gets exactly INFO's.
  if (fchmod(fd, store_mode_) != 0) return Failed("given INFO's permissions", StoreFile::kJournal, errno);
  return Step(WriteStep::Kind::kCreate, StoreFile::kJournal);
}

bool StoreIo::OpenJournal() {
  int& fd = fds_[static_cast<int>(StoreFile::kJournal)];
  if (fd >= 0) return true;
  // Only a regular file can be a journal this program wrote: anything else
  // in its place (a FIFO, a device) is never opened.
  struct stat before;
  if (fstatat(dir_fd_, kJournalFile, &before, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (!S_ISREG(before.st_mode)) {
    errno = EINVAL;
    return false;
  }
  fd = openat(dir_fd_, kJournalFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  return fd >= 0;
}

Status StoreIo::RemoveJournal() {
  if (stopped_) return Status::Error("the writer was stopped");
  int& fd = fds_[static_cast<int>(StoreFile::kJournal)];
  if (fd >= 0) close(fd);
  fd = -1;
  if (unlinkat(dir_fd_, kJournalFile, 0) != 0 && errno != ENOENT)
    return Failed("removed", StoreFile::kJournal, errno);
  return Step(WriteStep::Kind::kRemove, StoreFile::kJournal);
}
