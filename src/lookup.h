// Lookup tables: key fields and the derived fields fetched through them.
//
// A lookup table is a file of fixed-length records, each beginning with a key.
// At start-up every table that a key field names is opened and its key count
// taken, from the packed key index file (the table's name less its last three
// characters) when there is one, else from the table file itself; its keys are
// read only when a record first needs the table, and only as far as the
// lookups need. The first lookups scan the keys read so far; once the scans
// have cost about what building a hash index costs, the table is read whole
// and indexed, and each lookup costs one hash probe. Either way a lookup
// returns the slot a front-to-back scan would find: the first key equal to the
// text over the given length, stopping at a NUL in either. Descriptions are
// read from the table file, held in memory once a run needs many of them. The
// file formats are written up in doc/lookup_tables.md.
#ifndef QUERY_LOOKUP_H_
#define QUERY_LOOKUP_H_

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "status.h"
#include "store.h"

// The most memory the keys and key indexes of all lookup tables together may
// take. A form whose tables need more (a table file of hundreds of millions
// of records, or a sparse file that claims to be that large) is refused with
// a message naming the table before anything that large is allocated.
constexpr uint64_t kLookupMemoryLimitBytes = 1ull << 30;

// The keys of one table, loaded once with the key length of the first key
// field that names it, front to back: the first `loaded()` of its `count()`
// slots are read.
class KeyCache {
 public:
  // All `count` keys at once.
  void Assign(std::vector<char> slots, size_t key_length, int64_t count);
  // A table of `count` keys of which none is read yet.
  void Start(size_t key_length, int64_t count);
  // Counts the next `n` slots (at most those left) as read and returns the
  // first of them; the caller fills every byte of them.
  char* Extend(int64_t n);
  int64_t count() const { return count_; }
  int64_t loaded() const { return loaded_; }
  size_t key_length() const { return key_length_; }
  // Key i (below loaded()) as the comparison sees it: cut at its first NUL
  // and at `length`.
  std::string_view Key(int64_t i, size_t length) const;
  // The first slot whose key equals `text` over `length`, or -1; a linear
  // scan of the loaded keys, the reference the index must agree with.
  int64_t ScanFor(std::string_view text, size_t length) const { return ScanFor(text, length, 0, loaded_); }
  // The same over slots [from, to) only.
  int64_t ScanFor(std::string_view text, size_t length, int64_t from, int64_t to) const;

 private:
  // count_ slots of key_length_ bytes, of which the first loaded_ are read;
  // the pages of the others are not touched.
  std::unique_ptr<char[]> slots_;
  size_t key_length_ = 0;
  int64_t count_ = 0;
  int64_t loaded_ = 0;
};

// Hash index over a KeyCache for one comparison length. It keeps its own copy
// of each distinct key as compared (cut at the length and at a NUL), with the
// first slot that holds it.
class KeyIndex {
 public:
  // Indexes the keys of `keys`, all of which must be loaded.
  KeyIndex(const KeyCache& keys, size_t length);
  // Same answer as keys.ScanFor(text, length), in constant time on average.
  int64_t Find(std::string_view text) const;
  // The hash `Find(text)` probes with, for the two calls below.
  uint64_t HashOf(std::string_view text) const;
  // Starts loading the bucket a lookup of `hash` looks at first.
  void Prefetch(uint64_t hash) const { __builtin_prefetch(&buckets_[hash & mask_]); }
  // Find(text) for a text whose HashOf is `hash`.
  int64_t Find(std::string_view text, uint64_t hash) const;
  // The most memory an index over `count` keys of `key_length` bytes,
  // compared over `length`, can take; saturates instead of overflowing.
  static uint64_t BytesFor(uint64_t count, size_t key_length, size_t length);
  // Buckets visited beyond the first while the index was built: near the
  // number of keys for any key set, since the hash is keyed with a random
  // per-process seed that no one choosing keys can know.
  uint64_t extra_probes() const { return extra_probes_; }
  // The hash of `key` under the process's seed.
  static uint64_t Hash(std::string_view key);

 private:
  // One bucket per distinct key; keys of up to 8 bytes live in the bucket
  // itself, so a lookup usually touches one cache line. Compared keys hold no
  // NUL, so the zero-padded bytes of a short key identify it.
  struct Bucket {
    uint32_t tag = 0;   // high bits of the key's hash; lowest bit set for a key over 8 bytes
    uint32_t slot = 0;  // first slot holding the key, plus one; 0 marks an empty bucket
    uint64_t key = 0;   // a short key's bytes, or a long key's offset in `long_keys_`
  };
  static uint64_t Packed(std::string_view key) {
    uint64_t v = 0;
    std::memcpy(&v, key.data(), key.size());
    return v;
  }
  static uint32_t TagOf(uint64_t hash, std::string_view key) {
    return (static_cast<uint32_t>(hash >> 32) & ~1u) | (key.size() > 8 ? 1u : 0u);
  }
  bool Holds(const Bucket& b, std::string_view key) const {
    if (key.size() <= 8) return b.key == Packed(key);
    uint32_t size;
    std::memcpy(&size, long_keys_.data() + b.key, sizeof size);
    return size == key.size() &&
           std::memcmp(long_keys_.data() + b.key + sizeof size, key.data(), key.size()) == 0;
  }
  void Insert(std::string_view key, uint64_t hash, int64_t slot);

  size_t length_;
  std::vector<Bucket> buckets_;
  std::string long_keys_;
  size_t mask_ = 0;
  uint64_t extra_probes_ = 0;
};

// Fills header key fields with "key|description" and derived fields with text
// fetched from the record their key designates.
class LookupTables {
 public:
  LookupTables();
  ~LookupTables();
  // Opens every table a header or line-0 key field names and counts its keys,
  // which are read later, when lookups first need them. A table whose keys
  // cannot be read is an error with the system's "rddbr" text; keys and
  // indexes beyond the memory limit are refused here too.
  Status Load(const Form& form);
  // Rewrites the header key fields of the current record and fills the
  // derived fields they are the source of.
  Status ResolveHeader(RecordValues* values);
  // Fills the derived fields of present detail line `line`.
  Status ResolveLine(int line, RecordValues* values);
  // Start loading what resolving line `line` will read, first the index
  // buckets of its keys, then (once those have arrived) the table records
  // they designate. Called for all the present lines of a record before any
  // is resolved, so that the memory accesses of the lines overlap. Tables not
  // indexed yet are skipped. `line` -1 names the header's key fields. The
  // key lookups PrefetchRecords does are kept for the part's next resolve,
  // which must come before anything writes the part's key fields: the
  // results are those of resolving without the two calls.
  void PrefetchKeys(int line, const RecordValues& values) const;
  void PrefetchRecords(int line, const RecordValues& values) const;

 private:
  struct Table;
  struct Finder;
  struct DerivedPlan;
  struct KeyPlan;
  Status LoadKeys(int table, int key_length, bool header_field);
  Status OpenKeyIndexFile(const std::string& index_name, Table* table, size_t key_length,
                          bool* opened);
  Status OpenKeysInTable(int fd, Table* table, size_t key_length);
  Status Reserve(const std::string& file, uint64_t count, size_t key_length, const char* what);
  void PlanHeader();
  void PlanLines();
  Finder* FinderFor(int table, int length);
  // The first slot of `finder`'s table whose key equals `text`, reading
  // keys and building the index as the lookups so far call for.
  int64_t Find(Finder* finder, std::string_view text);
  // The lookup of a key field's own text.
  int64_t FindKey(const KeyPlan& key, std::string_view text);
  // Reads the next block of a table's keys.
  void ReadMoreKeys(Table* table);
  void LimitDeferredTables(Table* table);
  Status Fetch(int table, int64_t slot, int offset, int size, std::string_view* text);
  Status ResolveDerived(const KeyPlan& key, int64_t key_slot, bool reuse_slot,
                        std::string_view key_text, RecordValues* values, int line);

  const Form* form_ = nullptr;
  std::vector<std::unique_ptr<Table>> tables_;  // by table number
  std::vector<KeyPlan> header_plan_;
  std::vector<std::vector<KeyPlan>> line_plans_;  // by detail line
  std::vector<char> key_block_;  // a block of a key source as read
  int deferred_tables_ = 0;      // tables whose key files stay open for keys read later
  uint64_t memory_used_ = 0;    // by keys and indexes, against kLookupMemoryLimitBytes
  Status index_error_;          // the first index refused for want of memory
};

#endif  // QUERY_LOOKUP_H_
