#include "navigator.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

Navigator::Navigator(const Engine& engine) : engine_(&engine), reader_(std::make_unique<RecordReader>()) {}

Status Navigator::OpenReader() {
  if (reader_open_) return Status::Ok();
  Status s = reader_->Open(*engine_);
  reader_open_ = s.ok();
  return s;
}

Status Navigator::ReadWholeRecord(int64_t n, bool* beyond_head) {
  RecordReader::Outcome outcome;
  Status s = reader_->ReadRecord(n, &outcome);
  *beyond_head = outcome.beyond_head;
  if (!s.ok() || *beyond_head) return s;
  // A deferred field ends with the same text whenever it is computed within
  // its record, so computing them all now gives what the query would print.
  reader_->ComputeDeferred(-1);
  for (int line = 0; line < engine_->form().line_count; ++line) {
    if (LinePresent(line)) reader_->ComputeDeferred(line);
  }
  return Status::Ok();
}

bool Navigator::PrintsLine(int line) const { return selection_.AcceptsLine(engine_->form(), values(), line); }

bool Navigator::PrintsRecord() const {
  bool has_detail = false;
  for (int line = 0; line < engine_->form().line_count; ++line) {
    if (!LinePresent(line)) continue;
    has_detail = true;
    if (PrintsLine(line)) return true;
  }
  return !has_detail && selection_.AcceptsHeaderOnly(engine_->form(), values());
}

std::vector<bool> Navigator::LinesShown() const {
  const int line_count = engine_->form().line_count;
  std::vector<bool> shown(static_cast<size_t>(std::max(line_count, 0)), false);
  if (current_ < 0) return shown;
  for (int line = 0; line < line_count; ++line) {
    shown[static_cast<size_t>(line)] = LinePresent(line) && (!searching_ || PrintsLine(line));
  }
  return shown;
}

Status Navigator::Examine(int64_t n, bool* prints) {
  bool beyond_head = false;
  ++records_read_;
  Status s = ReadWholeRecord(n, &beyond_head);
  if (!s.ok()) return s;
  if (beyond_head) {
    range_.end = n;
    *prints = false;
    return Status::Ok();
  }
  *prints = !searching_ || PrintsRecord();
  return Status::Ok();
}

Status Navigator::Show(int64_t n) {
  bool prints = false;
  Status s = Examine(n, &prints);
  if (!s.ok()) return s;
  current_ = n < range_.end ? n : -1;
  return Status::Ok();
}

Status Navigator::ScanToNextMatch(bool* found) {
  *found = false;
  // Records wholly in holes of a sparse HEAD hold nothing to match.
  while ((scanned_end_ = reader_->NextRecordWithData(scanned_end_)) < range_.end) {
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
  *found = false;
  Status s = OpenReader();
  if (!s.ok()) return s;
  bool any_text = false;
  for (const QueryArgument& arg : arguments) any_text = any_text || !arg.search.empty();
  selection_ = Selection(any_text ? std::move(arguments) : std::vector<QueryArgument>());
  range_ = engine_->RangeFor(selection_);
  searching_ = any_text;
  matches_.clear();
  at_ = 0;
  scanned_end_ = range_.first;
  current_ = -1;
  if (!searching_) {
    *found = range_.first < range_.end;
    return *found ? Show(range_.first) : Status::Ok();
  }
  return ScanToNextMatch(found);
}

Status Navigator::First(bool* moved) {
  *moved = false;
  if (!searching_) {
    *moved = range_.end > range_.first && current_ != range_.first;
    return range_.end > range_.first ? Show(range_.first) : Status::Ok();
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
    if (current_ + 1 >= range_.end) return Show(current_);
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
    if (current_ <= range_.first) return Show(current_);
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
    if (range_.end <= range_.first) return Status::Ok();
    *moved = current_ != range_.end - 1;
    return Show(range_.end - 1);
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
  Navigator probe(*engine_);
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

Status Navigator::Refresh() { return current_ >= 0 ? Show(current_) : Status::Ok(); }

Status Navigator::Page(int64_t count, bool* moved) {
  *moved = false;
  if (current_ < 0) return Status::Ok();
  if (!searching_) {
    const int64_t target = std::clamp(current_ + count, range_.first, range_.end - 1);
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
  Status s = OpenReader();
  if (!s.ok()) return s;
  const RecordRange all = engine_->RangeFor(Selection());
  if (n < all.first || n >= all.end) return Refresh();
  bool any = false;
  if (!(s = Search({}, &any)).ok()) return s;
  s = Show(n);
  if (!s.ok()) return s;
  *found = current_ == n;
  return Status::Ok();
}
