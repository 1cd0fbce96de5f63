#include "search_memo.h"

#include <algorithm>
#include <new>
#include <utility>

#include "selection.h"

void SearchMemo::Plan(const Selection& selection, const Form& form, const LookupTables& lookups) {
  selection_id_ = selection.id();
  line_count_ = static_cast<size_t>(std::max(form.line_count, 0));
  const std::vector<size_t>& searched = selection.searched_arguments();
  by_search_and_line_.assign(searched.size() * line_count_, Column());
  early_by_line_.assign(line_count_, {});
  owned_.clear();
  // Lines whose field comes from the same source, searched over the same
  // length, share their verdicts.
  std::vector<std::pair<std::pair<LookupTables::FetchSource, int>, Column>> shared;
  for (size_t k = 0; k < searched.size(); ++k) {
    const QueryArgument& arg = selection.arguments()[searched[k]];
    if (!arg.IsDetail()) continue;
    for (int line = 0; line < form.line_count; ++line) {
      const std::optional<LookupTables::FetchSource> source = lookups.DetailFetchSource(line, arg.field);
      if (!source || source->records <= 0 || source->records > kMaxRememberedRecords) continue;
      const std::pair<LookupTables::FetchSource, int> key{*source, form.detail(line, arg.field).length};
      Column* column = nullptr;
      for (auto& [planned_key, planned] : shared)
        if (planned_key == key) column = &planned;
      if (column == nullptr) {
        // Zeroed memory (kUnknown) that costs nothing until a verdict is
        // written: a large table's pages stay untouched but for the records
        // the lines fetch.
        void* memory = std::calloc(static_cast<size_t>(source->records / 4 + 1), 1);
        if (memory == nullptr) throw std::bad_alloc();
        owned_.emplace_back(static_cast<uint8_t*>(memory));
        shared.push_back({key, Column{owned_.back().get(), source->records}});
        column = &shared.back().second;
      }
      by_search_and_line_[k * line_count_ + static_cast<size_t>(line)] = *column;
      const int prefetched_key = lookups.PrefetchedKeyOf(line, arg.field);
      if (prefetched_key >= 0)
        early_by_line_[static_cast<size_t>(line)].push_back({*column, prefetched_key, source->table});
    }
  }
}
