#include "search_memo.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#include "selection.h"

namespace {

// `bytes` zeroed bytes (every verdict unknown), aligned for words: memory
// that costs nothing until a verdict is written, so that a large table's
// pages stay untouched but for the records the lines fetch.
template <class T>
std::shared_ptr<T> ZeroedVerdicts(size_t bytes) {
  void* memory = std::calloc(bytes, 1);
  if (memory == nullptr) throw std::bad_alloc();
  return std::shared_ptr<T>(static_cast<T*>(memory), [](T* p) { std::free(p); });
}

}  // namespace

std::shared_ptr<uint64_t> SharedVerdicts::Column(const Key& key, size_t words) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(columns_, [](const auto& entry) { return entry.second.expired(); });
  for (const auto& [held_key, held] : columns_) {
    if (!(held_key == key)) continue;
    if (std::shared_ptr<uint64_t> column = held.lock()) return column;
  }
  std::shared_ptr<uint64_t> column = ZeroedVerdicts<uint64_t>(words * sizeof(uint64_t));
  columns_.emplace_back(key, column);
  return column;
}

void SearchMemo::Plan(const Selection& selection, const Form& form, const LookupTables& lookups,
                      SharedVerdicts* shared) {
  selection_id_ = selection.id();
  line_count_ = static_cast<size_t>(std::max(form.line_count, 0));
  const std::vector<size_t>& searched = selection.searched_arguments();
  by_search_and_line_.assign(searched.size() * line_count_, Column());
  early_by_line_.assign(line_count_, {});
  held_.clear();
  traded_.clear();
  // The lines of one search whose field comes from the same source,
  // searched over the same length, share their verdicts.
  std::vector<std::pair<SharedVerdicts::Key, Column>> planned;
  for (size_t k = 0; k < searched.size(); ++k) {
    const QueryArgument& arg = selection.arguments()[searched[k]];
    if (!arg.IsDetail()) continue;
    for (int line = 0; line < form.line_count; ++line) {
      const std::optional<LookupTables::FetchSource> source = lookups.DetailFetchSource(line, arg.field);
      if (!source || source->records <= 0 || source->records > kMaxRememberedRecords) continue;
      const SharedVerdicts::Key key{selection_id_, k, *source, form.detail(line, arg.field).length};
      auto same = std::find_if(planned.begin(), planned.end(), [&](const auto& p) { return p.first == key; });
      if (same == planned.end()) {
        const size_t words = static_cast<size_t>(source->records / 32 + 1);
        const size_t bytes = words * sizeof(uint64_t);
        held_.push_back(ZeroedVerdicts<uint8_t>(bytes));
        if (shared != nullptr && bytes <= kMaxTradedVerdictBytes)
          traded_.push_back({held_.back().get(), shared->Column(key, words), words});
        same = planned.insert(planned.end(), {key, Column{held_.back().get(), source->records}});
      }
      const Column column = same->second;
      by_search_and_line_[k * line_count_ + static_cast<size_t>(line)] = column;
      const int prefetched_key = lookups.PrefetchedKeyOf(line, arg.field);
      if (prefetched_key >= 0)
        early_by_line_[static_cast<size_t>(line)].push_back({column, prefetched_key, source->table});
    }
  }
}

void SearchMemo::Trade() {
  for (const Traded& t : traded_) {
    for (size_t w = 0; w < t.words; ++w) {
      uint64_t own;
      std::memcpy(&own, t.own + w * sizeof own, sizeof own);
      std::atomic_ref<uint64_t> shared(t.shared.get()[w]);
      const uint64_t theirs = shared.load(std::memory_order_relaxed);
      if ((own & ~theirs) != 0) shared.fetch_or(own, std::memory_order_relaxed);
      if ((theirs & ~own) != 0) {
        own |= theirs;
        std::memcpy(t.own + w * sizeof own, &own, sizeof own);
      }
    }
  }
}
