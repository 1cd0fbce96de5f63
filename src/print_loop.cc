#include "print_loop.h"

namespace {

// Prints the accepted present lines of the record last read, computing the
// fields left for output only for what is printed.
void PrintLines(RecordReader* reader, const Form& form, const Selection& selection, Output* out) {
  bool header_complete = false;
  for (int line = 0; line < form.line_count; ++line) {
    if (!reader->LinePresent(line) || !reader->AcceptsLine(selection, line)) continue;
    if (!header_complete) {
      reader->ComputeForOutput(-1);
      header_complete = true;
    }
    reader->ComputeForOutput(line);
    PrintRow(selection, reader->values(), line, out);
  }
}

}  // namespace

Status PrintMatches(RecordReader* reader, const Form& form, const Selection& selection, RecordRange range,
                    Output* out, int64_t* head_ended_at) {
  *head_ended_at = -1;
  reader->ExpectRecords(range);
  // Only accepted lines are printed, so lines known to be rejected need not
  // be resolved; the reader resolves every line again once the walk ends.
  reader->ResolveOnlyLinesAcceptedBy(&selection);
  Status s;
  for (int64_t n = reader->NextRecordWithData(range.first); n < range.end; n = reader->NextRecordWithData(n + 1)) {
    RecordReader::Outcome outcome;
    if (!(s = reader->ReadRecord(n, &outcome)).ok()) break;
    if (outcome.beyond_head) {
      *head_ended_at = n;
      break;
    }
    if (outcome.has_detail) {
      PrintLines(reader, form, selection, out);
    } else if (selection.AcceptsHeaderOnly(form, reader->values())) {
      reader->ComputeForOutput(-1);
      PrintRow(selection, reader->values(), -1, out);
    }
  }
  reader->ResolveOnlyLinesAcceptedBy(nullptr);
  return s;
}

void PrintRow(const Selection& selection, const RecordValues& values, int line, Output* out) {
  for (const QueryArgument& arg : selection.arguments()) {
    if (arg.IsHeader()) {
      out->Append(values.HeaderText(arg.field));
    } else if (arg.IsDetail() && line >= 0) {
      out->Append(values.DetailText(line, arg.field));
    }
    if (arg.has_separator) out->Put(arg.separator);
  }
  out->Put('\n');
}

std::string HeadShrankWarning(int64_t n) {
  return "HEAD shrank while it was read and now holds only " + std::to_string(n) +
         " records; the rest are not examined";
}
