// The state of the lookup module's tables, shared by its two source files:
// lookup_keys.cc, which reads keys, and lookup.cc, which plans, finds and
// resolves. Nothing outside the module includes it.
#ifndef QUERY_LOOKUP_TABLE_H_
#define QUERY_LOOKUP_TABLE_H_

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "key_index.h"
#include "lookup.h"

// Where the keys of a table not yet read come from. A table's keys are
// counted from its source when it is opened (kKeyIndexFile or kTableFile,
// or kNone for a source that holds none), read block by block as lookups
// need them (kExhausted once a read comes up short, after which the rest
// are empty keys), and the source is closed (kNone) once all are read.
enum class KeySource : uint8_t {
  kNone,          // nothing left to read; nothing open for keys
  kKeyIndexFile,  // key_fd: the key index file, keys packed end to end
  kTableFile,     // key_fd: the table file, a key at the start of every record
  kExhausted,     // a read came up short: the keys left are empty
};

// How a table's descriptions are read: the file is opened at the first
// description needed (or already open for its keys), read a description at
// a place, and read whole once a run has needed many descriptions of a
// small file.
enum class DescriptionSource : uint8_t {
  kClosed,           // not open for descriptions
  kPositioned,       // fd: one positioned read per description
  kInMemory,         // `contents` holds what lookups fetch, a NUL byte among it
  kInMemoryNulFree,  // `contents` holds what lookups fetch, no NUL byte in it
};

struct LookupTables::Table {
  int number = 0;
  const TableDesc* desc = nullptr;
  KeyCache keys;
  std::vector<std::unique_ptr<Finder>> finders;  // one per comparison length

  // Where the keys not yet read come from, as far as its size at opening.
  KeySource key_source = KeySource::kNone;
  int key_fd = -1;
  int64_t key_source_size = 0;
  bool counted_as_waiting = false;  // counted among the tables whose keys wait

  DescriptionSource descriptions = DescriptionSource::kClosed;
  int fd = -1;  // the table file, open for descriptions or for its keys
  std::shared_ptr<const SharedLookups::Contents> contents;  // what lookups fetch, once in memory
  int positioned_reads = 0;
  std::vector<char> scratch;

  bool InMemory() const {
    return descriptions == DescriptionSource::kInMemory || descriptions == DescriptionSource::kInMemoryNulFree;
  }
  // Text `size` bytes long at `offset` of record `slot`, cut where the file
  // ends, when the file is in memory and holds no NUL: what Fetch gives,
  // without a call. False otherwise, or for no bytes: Fetch serves those.
  bool FetchInMemoryNulFree(int64_t slot, int offset, int size, std::string_view* text) const {
    if (descriptions != DescriptionSource::kInMemoryNulFree || size <= 0) return false;
    *text = contents->At(slot, offset, size);
    return true;
  }
  void CloseKeySource() {
    if (key_fd >= 0 && key_fd != fd) close(key_fd);
    key_fd = -1;
    key_source = KeySource::kNone;
  }
  bool KeysPending() const { return keys.loaded() < keys.count(); }
  ~Table() {
    CloseKeySource();
    if (fd >= 0) close(fd);
  }
};

// The lookups in one table over one comparison length: scans of the keys
// read so far until they have cost what an index costs, then the index.
struct LookupTables::Finder {
  Table* table = nullptr;
  size_t length = 0;
  std::shared_ptr<const KeyIndex> index;  // this reader's own, or one the readers share
  uint64_t compared = 0;  // keys the scans have compared
};

struct LookupTables::DerivedPlan {
  int field;                    // the derived field filled
  int table;                    // its table number
  Finder* finder;               // nullptr: the table has no keys
  int offset;                   // of the fetched text inside a table record
  int size;                     // bytes fetched
  int width;                    // the derived field's length on this line
};

struct LookupTables::KeyPlan {
  int field;                    // the key field
  int table;
  Finder* finder;
  int length;                   // key length compared
  int description_size;         // header only: S of the table
  int description_offset;
  std::vector<DerivedPlan> derived;  // in field order
};

// "3.1 GB": a byte count for a message.
std::string DescribeBytes(uint64_t bytes);

#endif  // QUERY_LOOKUP_TABLE_H_
