// The header index H in memory, for going to a document by its key: the
// keys (header field 0 of record 0, 1, 2 ... packed without separators)
// read once with bounded reads and sorted, so that a key is found by binary
// search in microseconds however many documents the store holds.
#ifndef BROWSE_HEADER_KEY_INDEX_H_
#define BROWSE_HEADER_KEY_INDEX_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class HeaderKeyIndex {
 public:
  // Reads the keys of `key_length` bytes of at most `records` records from
  // `path`, in reads of at most 1 MiB; a file shorter than that holds the
  // keys of the records it covers. False, with `why` set, when the file
  // cannot be opened or read, is no regular file, or the length is not
  // above 0.
  bool Load(const std::string& path, int key_length, int64_t records, std::string* why);

  // The lowest record whose key equals `key`, blanks (and bytes 0) trimmed
  // from both ends of each; -1 when none does or `key` is empty.
  int64_t Find(std::string_view key) const;

  bool loaded() const { return key_length_ > 0; }
  int64_t size() const { return static_cast<int64_t>(order_.size()); }

 private:
  std::string_view KeyOf(int64_t record) const;

  std::string keys_;             // the keys as H holds them
  int key_length_ = 0;
  std::vector<uint32_t> order_;  // record numbers by key, equal keys by record
};

// `text` without blanks and bytes 0 at either end.
std::string_view TrimmedKey(std::string_view text);

#endif  // BROWSE_HEADER_KEY_INDEX_H_
