// Advisory byte-range locks on INFO, and the reader's lock.
#include "store_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "store_journal.h"

namespace {

struct flock LockRecord(StoreLockByte byte, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(byte);
  fl.l_len = 1;
  fl.l_pid = 0;  // must be 0 for open-file-description locks
  return fl;
}

short LockType(LockMode mode) {
  switch (mode) {
    case LockMode::kShared: return F_RDLCK;
    case LockMode::kExclusive: return F_WRLCK;
    case LockMode::kUnlock: break;
  }
  return F_UNLCK;
}

// A file system that has no locks at all.
bool LocksUnsupported(int error) { return error == ENOLCK || error == EOPNOTSUPP || error == EINVAL; }

}  // namespace

bool SetStoreLock(int fd, StoreLockByte byte, LockMode mode, bool wait) {
  struct flock fl = LockRecord(byte, LockType(mode));
  int r;
  do {
    r = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool StoreLockIsHeld(int fd, StoreLockByte byte) {
  struct flock fl = LockRecord(byte, F_WRLCK);
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

Status StoreReadLock::Lock() {
  if (fd_ < 0 || held_) return Status::Ok();
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (!SetStoreLock(fd_, StoreLockByte::kReaders, LockMode::kShared, true)) {
      if (LocksUnsupported(errno)) return Status::Ok();
      return Status::Error("INFO cannot be locked for reading");
    }
    // A journal while a writer holds its byte is that writer's, which has
    // not touched what readers see yet (it would need the readers' byte).
    if (!JournalExists(dir_) || StoreLockIsHeld(fd_, StoreLockByte::kWriters)) {
      held_ = true;
      return Status::Ok();
    }
    SetStoreLock(fd_, StoreLockByte::kReaders, LockMode::kUnlock, false);
    if (!roll_back_)
      return Status::Error("the store holds the journal of an unfinished change; a writer must roll it back first");
    Status s = RollBackStore(dir_, nullptr);
    if (!s.ok()) return s;
  }
  return Status::Error("the store's journal keeps coming back; INFO cannot be locked for reading");
}

void StoreReadLock::Unlock() {
  if (!held_) return;
  SetStoreLock(fd_, StoreLockByte::kReaders, LockMode::kUnlock, false);
  held_ = false;
}
