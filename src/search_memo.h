// The verdicts of a selection's searches on detail fields fetched from
// lookup tables, remembered by table record.
//
// A fetched field's text is that of the table record it came from, whatever
// line or document fetches it: a search on it has one verdict per table
// record. A join tests the same few thousand descriptions hundreds of
// thousands of times; remembered, each is searched once. The readers of one
// engine given the same selection share what they remember: each keeps its
// own copy, and trades what it learned for what the others did at the start
// and the end of each walk, so that no two processors write the same bytes
// while they walk.
#ifndef QUERY_SEARCH_MEMO_H_
#define QUERY_SEARCH_MEMO_H_

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "form.h"
#include "lookup.h"

class Selection;

// The most table records one search's verdicts are kept for: two bits each.
// A search on a larger table is run on every line.
constexpr int64_t kMaxRememberedRecords = int64_t{1} << 24;

// The most bytes of one search's verdicts that readers trade: about 260,000
// table records. Trading costs a pass over them, at most a few microseconds
// a walk; the verdicts of a larger table stay each reader's own.
constexpr size_t kMaxTradedVerdictBytes = size_t{64} << 10;

// The verdicts the readers of one engine trade: readers given the same
// selection (or copies of it) add theirs, so that a verdict one reader found
// reaches the others. Held while some reader uses them.
class SharedVerdicts {
 public:
  // What one column of verdicts is for: a search of a selection, on the
  // text of one source, over one length.
  struct Key {
    uint64_t selection_id = 0;
    size_t search = 0;
    LookupTables::FetchSource source;
    int length = 0;
    bool operator==(const Key&) const = default;
  };
  // The column of `key`, `words` words that start zero (every verdict
  // unknown), made when no reader holds it now. Its words are read and
  // written only as std::atomic_ref<uint64_t>.
  std::shared_ptr<uint64_t> Column(const Key& key, size_t words);

 private:
  std::mutex mutex_;  // guards columns_
  std::vector<std::pair<Key, std::weak_ptr<uint64_t>>> columns_;
};

class SearchMemo {
 public:
  enum Verdict : uint8_t { kUnknown = 0, kRejected = 1, kAccepted = 2 };

  // Plans the verdicts of `selection`'s searches on detail fields that
  // `lookups` fetch, all unknown, to be traded through `shared` when given;
  // forgets those of any earlier selection.
  void Plan(const Selection& selection, const Form& form, const LookupTables& lookups,
            SharedVerdicts* shared = nullptr);
  // Adds the verdicts this memo learned to the shared ones it was planned
  // with, and learns those the other readers added.
  void Trade();
  // The selection planned for (Selection::id), 0 before any.
  uint64_t selection_id() const { return selection_id_; }

  // True when a remembered verdict rejects present line `line` before the
  // line is resolved: one of its searched fields will be fetched from a
  // table record, held in memory, that `prefetched` (the line's lookups,
  // found) names and whose verdict is remembered as rejected.
  bool RejectsBeforeResolving(int line, const PrefetchedPart& prefetched, const LookupTables& lookups) const {
    for (const EarlyCheck& check : early_by_line_[static_cast<size_t>(line)]) {
      const PrefetchedPart::Key& key = prefetched.keys[static_cast<size_t>(check.prefetched_key)];
      if (key.stage != PrefetchedPart::Key::kFound) continue;
      if (check.column.Get(key.slot) == kRejected && lookups.FetchesFromMemory(check.table)) return true;
    }
    return false;
  }

  // The verdict of searched argument `search` (its place among the
  // arguments with a search text) on line `line` for the text fetched from
  // table record `record`: kUnknown until Remember is told it, and where
  // none is kept.
  Verdict Recall(size_t search, int line, int64_t record) const { return ColumnOf(search, line).Get(record); }
  void Remember(size_t search, int line, int64_t record, Verdict verdict) {
    ColumnOf(search, line).Set(record, verdict);
  }

 private:
  // The verdicts of one search over one source's table records, two bits
  // each, so that those of a table of 50,000 records take 12.5 KiB and stay
  // in the processor's nearest caches; this reader's own. A verdict goes
  // only from unknown (0) to its one value, so that verdicts are traded by
  // OR-ing them together.
  struct Column {
    uint8_t* bits = nullptr;
    int64_t records = 0;
    Verdict Get(int64_t record) const {
      if (record < 0 || record >= records) return kUnknown;
      return static_cast<Verdict>((bits[record >> 2] >> ((record & 3) * 2)) & 3);
    }
    void Set(int64_t record, Verdict verdict) const {
      if (record < 0 || record >= records) return;
      bits[record >> 2] |= static_cast<uint8_t>(verdict << ((record & 3) * 2));
    }
  };
  // A column traded with the other readers' verdicts.
  struct Traded {
    uint8_t* own;
    std::shared_ptr<uint64_t> shared;
    size_t words;
  };
  // A searched field of a line whose table record the line's own key
  // lookup finds, so that its verdict is known once the key is found.
  struct EarlyCheck {
    Column column;
    int prefetched_key;  // into PrefetchedPart::keys
    int table;
  };
  const Column& ColumnOf(size_t search, int line) const {
    return by_search_and_line_[search * line_count_ + static_cast<size_t>(line)];
  }

  uint64_t selection_id_ = 0;
  size_t line_count_ = 0;
  std::vector<Column> by_search_and_line_;
  std::vector<std::vector<EarlyCheck>> early_by_line_;
  std::vector<std::shared_ptr<uint8_t>> held_;  // the columns' bytes, one per distinct key
  std::vector<Traded> traded_;
};

#endif  // QUERY_SEARCH_MEMO_H_
