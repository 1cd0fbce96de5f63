// Advisory locks that keep readers and writers of one store apart.
//
// The locks are open-file-description byte-range locks (fcntl F_OFD_SETLK*)
// on two bytes of INFO far past its data, so they cost no disk and do not
// depend on the count's text:
//   - the writers' byte: held exclusively by a writer for the whole change,
//     so changes of one store happen one after another;
//   - the readers' byte: held shared by a reader while it reads a batch of
//     records, and exclusively by a writer only while it overwrites records
//     that readers can see, and by whoever rolls back a dead writer's change.
// Locks of one description conflict with those of another in the same
// process too, and closing some other descriptor of INFO drops none of them.
// The protocol is written up in doc/store_writing.md.
#ifndef QUERY_STORE_LOCK_H_
#define QUERY_STORE_LOCK_H_

#include <sys/types.h>

#include <string>

#include "status.h"

enum class StoreLockByte : off_t {
  kWriters = off_t{1} << 30,
  kReaders = (off_t{1} << 30) + 1,
};

enum class LockMode { kShared, kExclusive, kUnlock };

// Sets (waiting for it when `wait`) or drops one lock on the file open on
// `fd`. False with errno set when it cannot be had.
bool SetStoreLock(int fd, StoreLockByte byte, LockMode mode, bool wait);

// True when a description other than the one on `fd` holds a lock on `byte`
// that would conflict with an exclusive one.
bool StoreLockIsHeld(int fd, StoreLockByte byte);

// The reader's side. A reader calls Lock before it reads a batch of records
// and Unlock after; between them no writer changes a record a reader sees.
// Not thread-safe: one per reading thread.
class StoreReadLock {
 public:
  StoreReadLock() = default;
  StoreReadLock(const StoreReadLock&) = delete;
  StoreReadLock& operator=(const StoreReadLock&) = delete;

  // Locks through `info_fd` (INFO open for reading; not owned, and it must
  // stay open while this is used) for the store in directory `dir`.
  // `roll_back` says whether Lock may roll back the change of a writer that
  // died; a checker, which never writes, passes false.
  void Attach(int info_fd, std::string dir, bool roll_back) {
    fd_ = info_fd;
    dir_ = std::move(dir);
    roll_back_ = roll_back;
  }
  bool attached() const { return fd_ >= 0; }

  // Waits for a writer's commit in progress, then takes the shared lock.
  // When a writer died in the middle of a change (its journal is left and no
  // writer holds the store), first rolls its change back. An error when that
  // roll-back fails or is not allowed: the store then holds half a change
  // and must not be read. A file system without locks reads unlocked.
  Status Lock();
  void Unlock();

 private:
  int fd_ = -1;
  std::string dir_;
  bool roll_back_ = true;
  bool held_ = false;
};

#endif  // QUERY_STORE_LOCK_H_
