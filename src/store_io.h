// The writer's access to a store's files: positioned writes, truncation and
// flushes of INFO, HEAD, DOC, H and the journal, each reported to an
// optional step hook.
//
// The hook is the seam the crash tests stop a writer at: it is called after
// every step that changes a file or makes it durable, and when it returns
// false the writer stops there as a killed process would, leaving every file
// as it is. Every later step then fails at once.
#ifndef QUERY_STORE_IO_H_
#define QUERY_STORE_IO_H_

#include <cstdint>
#include <functional>
#include <string>

#include "status.h"

enum class StoreFile { kInfo, kHead, kDoc, kIndex, kJournal };
constexpr int kStoreFileCount = 5;

// The file's name in the store's directory.
const char* StoreFileName(StoreFile file);

struct WriteStep {
  enum class Kind { kCreate, kWrite, kTruncate, kFlush, kFlushDirectory, kRemove };
  Kind kind;
  StoreFile file;  // kFlushDirectory: kJournal, the entry it makes durable
};
// Returns false to stop the writer right after the step.
using StepHook = std::function<bool(const WriteStep&)>;

class StoreIo {
 public:
  StoreIo() = default;
  StoreIo(const StoreIo&) = delete;
  StoreIo& operator=(const StoreIo&) = delete;
  ~StoreIo();

  // Opens the directory and INFO, HEAD and DOC for reading and writing, and
  // H when it exists; none is followed through a symbolic link and each must
  // be a regular file. An error names the file.
  Status Open(const std::string& dir);
  void SetHook(const StepHook* hook) { hook_ = hook; }

  bool has(StoreFile file) const { return fds_[static_cast<int>(file)] >= 0; }
  int fd(StoreFile file) const { return fds_[static_cast<int>(file)]; }
  // The mode bits INFO has, which the journal is created with.
  unsigned store_mode() const { return store_mode_; }
  // True once the hook has stopped the writer.
  bool stopped() const { return stopped_; }

  // The file's size now; -1 for a file that is not open.
  int64_t Size(StoreFile file) const;
  // Reads up to `n` bytes at `offset` (fewer at the end of the file).
  Status Read(StoreFile file, int64_t offset, size_t n, std::string* out) const;
  Status Write(StoreFile file, int64_t offset, const std::string& bytes);
  Status Truncate(StoreFile file, int64_t size);
  // Makes the file's data durable (fdatasync).
  Status Flush(StoreFile file);
  // Makes the directory's entries durable: a journal created or removed.
  Status FlushDirectory();

  // Creates the journal (O_CREAT | O_EXCL | O_NOFOLLOW) with INFO's mode.
  Status CreateJournal();
  // Opens an existing journal read-only; false when there is none.
  bool OpenJournal();
  // Closes and removes the journal.
  Status RemoveJournal();

 private:
  Status Step(WriteStep::Kind kind, StoreFile file);
  Status Failed(const char* what, StoreFile file, int error) const;

  std::string dir_;
  int dir_fd_ = -1;
  int fds_[kStoreFileCount] = {-1, -1, -1, -1, -1};
  unsigned store_mode_ = 0644;
  const StepHook* hook_ = nullptr;
  bool stopped_ = false;
};

#endif  // QUERY_STORE_IO_H_
