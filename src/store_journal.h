// The rollback journal: what a change is about to overwrite, kept in the
// file JOURNAL beside the store until the change is durable.
//
// A journal holds each store file's size before the change and the bytes of
// every range the change overwrites, as they were, and ends with a checksum.
// A journal that is whole means the change may have touched the store:
// rolling back writes the old bytes back, cuts every file to its old size,
// flushes them and removes the journal. A journal that is not whole was being
// written when its writer stopped, before any store file was touched, and is
// only removed. The order of writes and flushes is in doc/store_writing.md.
#ifndef QUERY_STORE_JOURNAL_H_
#define QUERY_STORE_JOURNAL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "status.h"
#include "store_io.h"

inline constexpr char kJournalFile[] = "JOURNAL";

struct JournalPiece {
  StoreFile file;
  int64_t offset;
  std::string old_bytes;  // what the range held; shorter where it ran past the end
};

struct Journal {
  int64_t sizes[4] = {0, 0, 0, -1};  // INFO, HEAD, DOC, H before the change; -1: no H
  std::vector<JournalPiece> pieces;
};

// The journal's bytes, and the journal back from them; false when the bytes
// are not a whole journal (cut short, or not a journal at all).
std::string EncodeJournal(const Journal& journal);
bool DecodeJournal(const std::string& bytes, Journal* journal);

// True when the store in `dir` has a journal.
bool JournalExists(const std::string& dir);

// Rolls back the change whose journal `io`'s store holds, if any; the
// caller holds both locks exclusively. Each step goes through `io`'s hook.
Status RollBackLocked(StoreIo* io);

// Takes both locks of the store in `dir` exclusively (waiting for them),
// rolls back as above, and lets them go. `hook` may be null.
Status RollBackStore(const std::string& dir, const StepHook* hook);

#endif  // QUERY_STORE_JOURNAL_H_
