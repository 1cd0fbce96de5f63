#include "navigator.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

Status Navigator::Examine(int64_t n, bool* prints) {
  bool beyond_head = false;
  ++records_read_;
  Status s = query_->ReadWholeRecord(n, &beyond_head);
  if (!s.ok()) return s;
  if (beyond_head) {
    end_ = n;
    *prints = false;
    return Status::Ok();
  }
  *prints = !searching_ || query_->PrintsRecord();
  return Status::Ok();
}

Status Navigator::Show(int64_t n) {
  bool prints = false;
  Status s = Examine(n, &prints);
  if (!s.ok()) return s;
  current_ = n < end_ ? n : -1;
  return Status::Ok();
}

Status Navigator::ScanToNextMatch(bool* found) {
  *found = false;
  // Records wholly in holes of a sparse HEAD hold nothing to match.
  while ((scanned_end_ = query_->NextRecordWithData(scanned_end_)) < end_) {
    const int64_t n = scanned_end_++;
    bool prints = false;
    Status s = Examine(n, &prints);
    if (!s.ok()) return s;
    if (prints) {
      matches_.push_back(n);
      current_ = n;
      *found = true;
      return Status::Ok();
    }
  }
  return Status::Ok();
}

Status Navigator::Search(std::vector<QueryArgument> arguments, bool* found) {
  bool any_text = false;
  for (const QueryArgument& arg : arguments) any_text = any_text || !arg.search.empty();
  arguments_ = any_text ? std::move(arguments) : std::vector<QueryArgument>();
  query_->SetArguments(arguments_);
  searching_ = any_text;
  matches_.clear();
  at_ = 0;
  first_ = query_->first_record();
  end_ = query_->end_record();
  scanned_end_ = first_;
  current_ = -1;
  if (!searching_) {
    *found = first_ < end_;
    return *found ? Show(first_) : Status::Ok();
  }
  return ScanToNextMatch(found);
}

Status Navigator::First(bool* moved) {
  *moved = false;
  if (!searching_) {
    *moved = end_ > first_ && current_ != first_;
    return end_ > first_ ? Show(first_) : Status::Ok();
  }
  if (matches_.empty()) return Status::Ok();
  *moved = at_ != 0;
  at_ = 0;
  return Show(matches_[0]);
}

Status Navigator::Next(bool* moved) {
  *moved = false;
  if (current_ < 0) return Status::Ok();
  if (!searching_) {
    if (current_ + 1 >= end_) return Show(current_);
    *moved = true;
    return Show(current_ + 1);
  }
  if (at_ + 1 < matches_.size()) {
    ++at_;
    *moved = true;
    return Show(matches_[at_]);
  }
  Status s = ScanToNextMatch(moved);
  if (!s.ok()) return s;
  if (*moved) {
    at_ = matches_.size() - 1;
    return Status::Ok();
  }
  return Show(matches_[at_]);
}

Status Navigator::Previous(bool* moved) {
  *moved = false;
  if (current_ < 0) return Status::Ok();
  if (!searching_) {
    if (current_ <= first_) return Show(current_);
    *moved = true;
    return Show(current_ - 1);
  }
  if (at_ > 0) {
    --at_;
    *moved = true;
  }
  return Show(matches_[at_]);
}

Status Navigator::Last(bool* moved) {
  *moved = false;
  if (!searching_) {
    if (end_ <= first_) return Status::Ok();
    *moved = current_ != end_ - 1;
    return Show(end_ - 1);
  }
  if (matches_.empty()) return Status::Ok();
  const size_t was = at_;
  bool found = true;
  while (found) {
    Status s = ScanToNextMatch(&found);
    if (!s.ok()) return s;
  }
  at_ = matches_.size() - 1;
  *moved = at_ != was;
  return Show(matches_[at_]);
}

Status Navigator::GoToKey(const std::string& key, bool* found) {
  QueryArgument arg = ParseQueryArgument("h00;" + key);
  Navigator probe(query_);
  Status s = probe.Search({arg}, found);
  if (!s.ok()) return s;
  if (!*found) return Refresh();
  const int64_t target = probe.current();
  records_read_ += probe.records_read();
  bool any = false;
  s = Search({}, &any);
  if (!s.ok()) return s;
  return Show(target);
}

Status Navigator::Refresh() {
  query_->SetArguments(arguments_);
  return current_ >= 0 ? Show(current_) : Status::Ok();
}

Status Navigator::Page(int64_t count, bool* moved) {
  *moved = false;
  if (current_ < 0) return Status::Ok();
  if (!searching_) {
    const int64_t target = std::clamp(current_ + count, first_, end_ - 1);
    *moved = target != current_;
    return Show(target);
  }
  for (int64_t k = 0; k < std::abs(count); ++k) {
    bool step = false;
    Status s = count > 0 ? Next(&step) : Previous(&step);
    if (!s.ok()) return s;
    if (!step) break;
    *moved = true;
  }
  return Status::Ok();
}

Status Navigator::GoToRecord(int64_t n, bool* found) {
  *found = false;
  bool any = false;
  std::vector<QueryArgument> none;
  query_->SetArguments(none);
  if (n < query_->first_record() || n >= query_->end_record()) return Refresh();
  Status s = Search({}, &any);
  if (!s.ok()) return s;
  s = Show(n);
  if (!s.ok()) return s;
  *found = current_ == n;
  return Status::Ok();
}
