#include "search_memo.h"

#include <algorithm>
#include <new>
#include <utility>

#include "selection.h"

namespace {

// `bytes` zeroed bytes (every verdict unknown): memory that costs nothing
// until a verdict is written, so that a large table's pages stay untouched
// but for the records the lines fetch.
std::shared_ptr<uint8_t> ZeroedVerdictBytes(size_t bytes) {
  void* memory = std::calloc(bytes, 1);
  if (memory == nullptr) throw std::bad_alloc();
  return std::shared_ptr<uint8_t>(static_cast<uint8_t*>(memory), [](uint8_t* p) { std::free(p); });
}

}  // namespace

std::shared_ptr<uint8_t> SharedVerdicts::Column(const Key& key, size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(columns_, [](const auto& entry) { return entry.second.expired(); });
  for (const auto& [held_key, held] : columns_) {
    if (!(held_key == key)) continue;
    if (std::shared_ptr<uint8_t> column = held.lock()) return column;
  }
  std::shared_ptr<uint8_t> column = ZeroedVerdictBytes(bytes);
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
        const size_t bytes = static_cast<size_t>(source->records / 4 + 1);
        held_.push_back(shared != nullptr ? shared->Column(key, bytes) : ZeroedVerdictBytes(bytes));
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
