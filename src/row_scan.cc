#include "row_scan.h"

#include <algorithm>

RowScan::RowScan(const Engine& engine, RecordReader* reader, const Selection& selection, int64_t from)
    : engine_(engine), reader_(reader), selection_(selection) {
  const Form& form = engine.form();
  const int key_length = form.ph.empty() ? 0 : form.ph[0].length;
  // The probe is compared over the key's length, as the query compares it.
  const std::string probe = selection.KeyShortcutProbe(key_length);
  const int64_t hit =
      probe.empty() ? -1 : engine.FindRecordByKey(std::string_view(probe).substr(0, static_cast<size_t>(key_length)));
  if (hit >= 0) {
    next_ = hit;
    end_ = hit + 1;
  } else {
    end_ = reader->record_count();
  }
  next_ = std::max(next_, from);
  reader_->DeferFieldsOutputOnly(selection);
}

Status RowScan::Step(int64_t max_records, const RowCallback& on_row) {
  for (int64_t count = 0; count < max_records && next_ < end_; ++count) {
    const int64_t n = reader_->NextRecordWithData(next_);
    if (n >= end_ || n < next_) {
      next_ = end_;
      break;
    }
    next_ = n + 1;
    bool stop = false;
    Status s = Examine(n, on_row, &stop);
    if (!s.ok()) return s;
    if (stop) break;
  }
  return Status::Ok();
}

Status RowScan::Examine(int64_t n, const RowCallback& on_row, bool* stop) {
  RecordReader::Outcome outcome;
  Status s = reader_->ReadRecord(n, &outcome);
  if (!s.ok()) return s;
  ++examined_;
  if (outcome.beyond_head) {
    // HEAD shrank while it was read: the walk ends here, as the query's does.
    head_ended_at_ = n;
    next_ = end_;
    *stop = true;
    return Status::Ok();
  }
  const Form& form = engine_.form();
  const RecordValues& values = reader_->values();
  if (!outcome.has_detail) {
    if (!selection_.AcceptsHeaderOnly(form, values)) return Status::Ok();
    reader_->ComputeForOutput(-1);
    *stop = on_row(n, -1) == Next::kStop;
    return Status::Ok();
  }
  bool header_complete = false;
  for (int line = 0; line < form.line_count; ++line) {
    if (!reader_->LinePresent(line) || !reader_->AcceptsLine(selection_, line)) continue;
    if (!header_complete) {
      reader_->ComputeForOutput(-1);
      header_complete = true;
    }
    reader_->ComputeForOutput(line);
    const Next next = on_row(n, line);
    if (next == Next::kContinue) continue;
    *stop = next == Next::kStop;
    break;
  }
  return Status::Ok();
}
