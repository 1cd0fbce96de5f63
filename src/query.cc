// A query as one object, on the engine's interface.
#include "query.h"

#include <utility>

#include "print_loop.h"

Status Query::Start(const std::string& form_path, const std::vector<std::string>& arguments) {
  selection_ = Selection::FromText(arguments);
  Status s = Engine::Load({".", form_path}, &engine_, &warnings_);
  if (!s.ok()) return s;
  if (!(s = reader_.Open(*engine_)).ok()) return s;
  reader_.DeferFieldsOutputOnly(selection_);
  for (std::string& w : selection_.Warnings(engine_->form())) warnings_.push_back(std::move(w));
  range_ = engine_->RangeFor(selection_);
  return Status::Ok();
}

Status Query::Run(Output* out) {
  int64_t head_ended_at = -1;
  Status s = PrintMatches(&reader_, form(), selection_, range_, out, &head_ended_at);
  if (head_ended_at >= 0) warnings_.push_back(HeadShrankWarning(head_ended_at));
  return s;
}

void Query::SetArguments(std::vector<QueryArgument> arguments) {
  selection_ = Selection(std::move(arguments));
  range_ = engine_->RangeFor(selection_);
}

Status Query::ReadWholeRecord(int64_t n, bool* beyond_head) {
  RecordReader::Outcome outcome;
  Status s = reader_.ReadRecord(n, &outcome);
  *beyond_head = outcome.beyond_head;
  if (!s.ok() || *beyond_head) return s;
  // A deferred field ends with the same text whenever it is computed within
  // its record, so computing them all now gives what Run would print.
  reader_.ComputeDeferred(-1);
  for (int line = 0; line < form().line_count; ++line) {
    if (LinePresent(line)) reader_.ComputeDeferred(line);
  }
  return Status::Ok();
}

bool Query::PrintsRecord() const {
  bool has_detail = false;
  for (int line = 0; line < form().line_count; ++line) {
    if (!LinePresent(line)) continue;
    has_detail = true;
    if (PrintsLine(line)) return true;
  }
  return !has_detail && selection_.AcceptsHeaderOnly(form(), values());
}
