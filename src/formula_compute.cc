// Calculated fields: evaluating the compiled formulas for each record, the
// fields left for output, and the assembled text (loading and compiling:
// formula.cc).
#include "formula.h"

#include <algorithm>

namespace {

// Collects the assembled text instead of evaluating it.
struct TextSink {
  std::string* text;
  void Feed(std::string_view piece, bool = false) { text->append(piece); }
  bool stopped() const { return false; }
};

}  // namespace

template <typename Sink>
void Formulas::Walk(const Compiled& formula, int line, const RecordValues& values,
                    Sink* sink) const {
  const std::string_view text = entries_[static_cast<size_t>(formula.entry_index)].text;
  for (const Piece& p : formula.pieces) {
    switch (p.kind) {
      case Piece::kLiteral:
        sink->Feed(text.substr(p.begin, p.size), p.ends);
        break;
      case Piece::kHeaderSigned: {
        std::string_view value = values.HeaderText(p.field);
        if (!value.empty() && value[0] == '-') {
          sink->Feed(" 0 ", true);
          sink->Feed(value.substr(1), true);
          sink->Feed(" - ", true);
        } else {
          sink->Feed(value, p.ends);
        }
        break;
      }
      case Piece::kHeader:
        sink->Feed(values.HeaderText(p.field), p.ends);
        break;
      case Piece::kDetail:
        sink->Feed(values.DetailText(line, p.field), p.ends);
        break;
    }
    if (sink->stopped()) return;
  }
}

// Feeds the steps of a formula: each reference's text as whole tokens, as
// Walk feeds it when no number token crosses the reference's ends.
void Formulas::RunSteps(const Compiled& formula, int line, const RecordValues& values) {
  for (const Step& step : formula.steps) {
    switch (step.kind) {
      case Piece::kLiteral:
        evaluator_.Apply(step.token);
        break;
      case Piece::kHeaderSigned: {
        std::string_view value = values.HeaderText(step.field);
        if (!value.empty() && value[0] == '-') {
          // " 0 <rest> - "
          evaluator_.Apply({0.0, 0});
          evaluator_.FeedWhole(value.substr(1));
          evaluator_.Apply({0.0, '-'});
        } else {
          evaluator_.FeedWhole(value);
        }
        break;
      }
      case Piece::kHeader:
        evaluator_.FeedWhole(values.HeaderText(step.field));
        break;
      case Piece::kDetail:
        evaluator_.FeedWhole(values.DetailText(line, step.field));
        break;
    }
  }
}

void Formulas::Compute(const Target& target, int line, RecordValues* values, FieldBuffer* out) {
  evaluator_.Reset();
  if (target.formula >= 0) {
    const Compiled& formula = compiled_[static_cast<size_t>(target.formula)];
    if (!formula.steps.empty()) {
      RunSteps(formula, line, *values);
    } else {
      Walk(formula, line, *values, &evaluator_);
    }
  }
  evaluator_.Finish(out);  // with no formula line, the empty formula: "0.00"
}

void Formulas::ComputeHeader(RecordValues* values) {
  for (const Target& t : header_targets_)
    if (!t.deferred) Compute(t, -1, values, &values->head(t.field));
}

void Formulas::NoteLinesComputingNow() {
  line_computes_now_.assign(line_begin_.empty() ? 0 : line_begin_.size() - 1, 0);
  for (size_t line = 0; line < line_computes_now_.size(); ++line) {
    for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i)
      if (!line_targets_[i].deferred) line_computes_now_[line] = 1;
  }
}

void Formulas::ComputeLineNow(int line, RecordValues* values) {
  if (line < 0 || static_cast<size_t>(line) + 1 >= line_begin_.size()) return;
  for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i) {
    const Target& t = line_targets_[i];
    if (!t.deferred) Compute(t, line, values, &values->doc(line, t.field));
  }
}

void Formulas::ComputeDeferredHeader(RecordValues* values, bool printed_only) {
  for (const Target& t : header_targets_)
    if (t.deferred && (t.printed || !printed_only)) Compute(t, -1, values, &values->head(t.field));
}

void Formulas::ComputeDeferredLine(int line, RecordValues* values, bool printed_only) {
  if (line < 0 || static_cast<size_t>(line) + 1 >= line_begin_.size()) return;
  for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i) {
    const Target& t = line_targets_[i];
    if (t.deferred && (t.printed || !printed_only)) Compute(t, line, values, &values->doc(line, t.field));
  }
}

void Formulas::MarkPrinted(const std::vector<int>& header_fields, const std::vector<int>& detail_fields) {
  auto printed = [](const std::vector<int>& fields, int field) {
    return std::find(fields.begin(), fields.end(), field) != fields.end();
  };
  for (Target& t : header_targets_) t.printed = printed(header_fields, t.field);
  for (Target& t : line_targets_) t.printed = printed(detail_fields, t.field);
}

void Formulas::DeferFieldsReadOnlyByOutput(const Form& form, const std::vector<int>& searched) {
  // Field numbers some formula or search reads, header ('h') and detail ('d').
  std::vector<bool> header_read(static_cast<size_t>(form.header_count), false);
  std::vector<bool> detail_read(static_cast<size_t>(form.field_count), false);
  for (const Compiled& c : compiled_) {
    for (const Piece& p : c.pieces) {
      if (p.kind == Piece::kLiteral || p.field < 0) continue;
      std::vector<bool>& read = p.kind == Piece::kDetail ? detail_read : header_read;
      if (static_cast<size_t>(p.field) < read.size()) read[static_cast<size_t>(p.field)] = true;
    }
  }
  for (int field : searched) {
    if (field >= 0 && field < form.header_count) header_read[static_cast<size_t>(field)] = true;
    if (field >= 0 && field < form.field_count) detail_read[static_cast<size_t>(field)] = true;
  }
  for (Target& t : header_targets_) t.deferred = Deferrable(form, -1, t, header_read);
  for (int line = 0; line + 1 < static_cast<int>(line_begin_.size()); ++line) {
    for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i) {
      Target& t = line_targets_[i];
      t.deferred = t.field != 0 && Deferrable(form, line, t, detail_read);
    }
  }
  NoteLinesComputingNow();
}

// `line` -1 for a header field. A formula of the field that reads a
// calculated field of its own part at or after it is not deferrable.
bool Formulas::Deferrable(const Form& form, int line, const Target& target,
                          const std::vector<bool>& read) const {
  if (read[static_cast<size_t>(target.field)]) return false;
  return !ReadsCalculatedAtOrAfter(form, line, target);
}

// True when the formula of `target` (on detail line `line`, or -1 for the
// header) reads a calculated field of its own part that is computed at or
// after it, and so still holds its text from an earlier record.
bool Formulas::ReadsCalculatedAtOrAfter(const Form& form, int line, const Target& target) const {
  if (target.formula < 0) return false;
  for (const Piece& p : compiled_[static_cast<size_t>(target.formula)].pieces) {
    const bool own_part = line < 0 ? p.kind == Piece::kHeader || p.kind == Piece::kHeaderSigned
                                   : p.kind == Piece::kDetail;
    if (!own_part || p.field < target.field) continue;
    const int count = line < 0 ? form.header_count : form.field_count;
    if (p.field >= count) continue;
    const FieldDef& def = line < 0 ? form.ph[static_cast<size_t>(p.field)] : form.detail(line, p.field);
    if (def.type == kCalculatedType) return true;
  }
  return false;
}

bool Formulas::SeesEarlierRecords(const Form& form) const {
  for (const Target& t : header_targets_)
    if (ReadsCalculatedAtOrAfter(form, -1, t)) return true;
  for (int line = 0; line + 1 < static_cast<int>(line_begin_.size()); ++line) {
    for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i)
      if (ReadsCalculatedAtOrAfter(form, line, line_targets_[i])) return true;
  }
  return false;
}

std::string Formulas::Assembled(int line, int field, const RecordValues& values) const {
  std::string text;
  TextSink sink{&text};
  if (line < 0) {
    for (const Target& t : header_targets_) {
      if (t.field == field && t.formula >= 0) Walk(compiled_[static_cast<size_t>(t.formula)], line, values, &sink);
    }
  } else if (static_cast<size_t>(line) + 1 < line_begin_.size()) {
    for (uint32_t i = line_begin_[line]; i < line_begin_[line + 1]; ++i) {
      const Target& t = line_targets_[i];
      if (t.field == field && t.formula >= 0) Walk(compiled_[static_cast<size_t>(t.formula)], line, values, &sink);
    }
  }
  return text;
}
