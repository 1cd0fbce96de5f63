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

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "key_index.h"
#include "large_buffer.h"
#include "status.h"
#include "store.h"
#include "table_bytes.h"

// The most memory the keys and key indexes of all lookup tables together may
// take. A form whose tables need more (a table file of hundreds of millions
// of records, or a sparse file that claims to be that large) is refused with
// a message naming the table before anything that large is allocated.
constexpr uint64_t kLookupMemoryLimitBytes = 1ull << 30;

// What the prefetches of one part of a record (its header, or one detail
// line) found for each of the part's key fields, in plan order: made by
// PrefetchKeys, completed by PrefetchRecords, and handed to that part's
// resolve, which then looks up no key again. A caller keeps one per part and
// reuses it from record to record.
struct PrefetchedPart {
  struct Key {
    enum Stage : uint32_t { kNothing, kHashed, kFound } stage = kNothing;  // not a byte: a byte store may alias anything
    uint64_t hash = 0;   // kHashed and after: the key text's hash
    int64_t slot = -1;   // kFound: the lookup's slot, -1 when the key is missing
  };
  std::vector<Key> keys;
};

// What the lookup tables of the readers of one engine share once it is
// built: key indexes and table files read whole. The first reader that
// needs one builds it under a lock; a reader that needs it meanwhile waits
// for it, and every reader then uses that one. Nothing shared changes once
// it is published, so readers look it up and use it without a lock.
class SharedLookups {
 public:
  // A table file held in memory for descriptions.
  using Contents = TableBytes;
  // The index of table `table` over `length`, made by `build` when no
  // reader has made it yet; a reader asking while another builds it waits
  // for that one.
  std::shared_ptr<const KeyIndex> Index(int table, size_t length,
                                        const std::function<std::unique_ptr<KeyIndex>()>& build);
  // The index of table `table` over `length` if a reader has made it;
  // never waits for one being built.
  std::shared_ptr<const KeyIndex> BuiltIndex(int table, size_t length);
  // Table `table`'s file whole, read by `read` when no reader has read it
  // yet; nullptr when it is not to be held (`read` gave nullptr).
  std::shared_ptr<const Contents> TableContents(int table,
                                                const std::function<std::shared_ptr<const Contents>()>& read);

 private:
  // One index or table: built under its own lock, so that building one
  // never holds up a reader that needs another; published once built. Read
  // by every reader that asks for it: on cache lines of its own.
  template <class T>
  struct alignas(kCacheLineBytes) Entry {
    std::mutex building;
    std::atomic<bool> ready{false};
    std::shared_ptr<const T> value;  // written once, before `ready`
  };
  template <class T, class Key>
  Entry<T>* EntryFor(std::map<Key, std::unique_ptr<Entry<T>>>* entries, const Key& key);
  template <class T>
  static std::shared_ptr<const T> Get(Entry<T>* entry, const std::function<std::shared_ptr<const T>()>& make);

  std::mutex entries_mutex_;  // guards the two maps (not what their entries hold)
  std::map<std::pair<int, size_t>, std::unique_ptr<Entry<KeyIndex>>> indexes_;
  std::map<int, std::unique_ptr<Entry<Contents>>> contents_;
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
  // Table names that are not absolute are found in `store_dir`. With
  // `shared`, indexes and tables read whole are shared with the other
  // LookupTables loaded with it (which must outlive none of them).
  Status Load(const Form& form, const std::string& store_dir = ".", SharedLookups* shared = nullptr);
  // Rewrites the header key fields of the current record and fills the
  // derived fields they are the source of. `prefetched` is what the
  // prefetches of the header found since its key fields were read. When
  // `missing` is given, the number of each key field whose table lacks its
  // key is added to it.
  Status ResolveHeader(RecordValues* values, const PrefetchedPart& prefetched,
                       std::vector<int>* missing = nullptr);
  // Fills the derived fields of present detail line `line`; `prefetched` and
  // `missing` as for the header.
  Status ResolveLine(int line, RecordValues* values, const PrefetchedPart& prefetched,
                     std::vector<int>* missing = nullptr);
  // Where resolving fetches the text of field `field` of detail line `line`
  // from, when it does and nothing else writes the field: the table
  // record's bytes [offset, offset + size) fitted to `width`. Fields whose
  // sources are equal get equal text from equal table records, which
  // RecordValues::FetchedRecord names. nullopt for any other field.
  struct FetchSource {
    int table = 0;
    int offset = 0;
    int size = 0;
    int width = 0;
    int64_t records = 0;  // the table's records: every slot found is below
    bool operator==(const FetchSource&) const = default;
  };
  std::optional<FetchSource> DetailFetchSource(int line, int field) const;
  // The place among line `line`'s prefetched keys (PrefetchedPart::keys)
  // whose lookup finds the record field `field` is fetched from; -1 when
  // the field's record is found by a lookup of its own, or not fetched.
  int PrefetchedKeyOf(int line, int field) const;
  // Whether table `table`'s descriptions are held in memory now: fetching
  // them can then no longer fail.
  bool FetchesFromMemory(int table) const;
  // Builds now what the lookups of a long walk would build in its first
  // records: every index of every table, and its file read whole when
  // descriptions come from it, each shared with the other readers. First
  // for the tables whose number is `part` modulo `parts`, so that readers
  // build different tables at the same time; then it takes the others',
  // waiting for those another reader is building. Nothing without
  // `shared`; what fails is left for the lookups to meet.
  void PrepareForLongWalk(int part, int parts);
  // Start loading what resolving line `line` (-1 the header) will read,
  // first the index buckets of its keys, then (once those have arrived) the
  // table records they designate, and keep the lookups in `prefetched` for
  // the part's resolve. Called for all the present lines of a record before
  // any is resolved, so that the memory accesses of the lines overlap.
  // Tables not indexed yet are skipped. The results are those of resolving
  // without the two calls, since nothing writes a key field between them.
  // Sizes `prefetched` for the key fields of line `line` (-1 the header),
  // once, before the part's first prefetch.
  void SizePrefetched(int line, PrefetchedPart* prefetched) const;
  void PrefetchKeys(int line, const RecordValues& values, PrefetchedPart* prefetched) const;
  void PrefetchRecords(int line, const RecordValues& values, PrefetchedPart* prefetched) const;

 private:
  struct Table;
  struct Finder;
  struct DerivedPlan;
  struct KeyPlan;
  Status LoadKeys(int table, int key_length, bool header_field);
  // PrepareForLongWalk's work for one table.
  void PrepareTable(Table* table);
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
  // The slot of the key's own lookup: the one PrefetchRecords found for
  // this record when it could, else found now.
  int64_t FindKey(const KeyPlan& key, std::string_view text, const PrefetchedPart::Key& prefetched);
  // Reads the next block of a table's keys.
  void ReadMoreKeys(Table* table);
  void LimitDeferredTables(Table* table);
  Status Fetch(int table, int64_t slot, int offset, int size, std::string_view* text);
  // Opens table `number`'s file to read descriptions from it.
  Status OpenDescriptions(int number, Table* table);
  // Holds the table's file in memory, when it is small enough: of each
  // record only the bytes lookups fetch, when those are fewer.
  void HoldInMemory(Table* table);
  // The bytes [*first, *end) of a record of table `number` that lookups
  // fetch; false when none fetch from it.
  bool FetchSpan(int number, int64_t* first, int64_t* end) const;
  Status ResolveDerived(const KeyPlan& key, int64_t key_slot, bool reuse_slot,
                        std::string_view key_text, RecordValues* values, int line);

  // The path of the table file or key index `name`.
  std::string PathOf(const std::string& name) const;

  // Reads what lookups fetch of table `t`'s file, when it is small enough
  // to be held.
  std::shared_ptr<const SharedLookups::Contents> ReadForFetches(const Table& t) const;

  const Form* form_ = nullptr;
  std::string store_dir_;
  SharedLookups* shared_ = nullptr;  // what the engine's readers share; may be null
  std::vector<std::unique_ptr<Table>> tables_;  // by table number
  std::vector<KeyPlan> header_plan_;
  std::vector<std::vector<KeyPlan>> line_plans_;  // by detail line
  std::vector<char> key_block_;  // a block of a key source as read
  int deferred_tables_ = 0;      // tables whose key files stay open for keys read later
  uint64_t memory_used_ = 0;    // by keys and indexes, against kLookupMemoryLimitBytes
  Status index_error_;          // the first index refused for want of memory
};

#endif  // QUERY_LOOKUP_H_
