// Calculated fields: which formula entry computes each field, the formulas
// compiled into literal pieces and field references, and their evaluation
// for each record.
//
// A calculated field (type 30) stores nothing in the record store. For every
// record examined, each header calculated field gets the result of the last
// 'h' formula entry naming it, and each calculated field of a present detail
// line the result of the last 'd' formula entry naming it, in increasing field
// order. A formula is postfix text in which a reference ('h' and two
// characters, and in detail formulas also 'd' and two characters) stands for
// the current text of that field. Results are "%.2lf" text, or "/BY0" after a
// division by zero; they are not fitted to the field's length.
//
// The value buffers are never cleared between records, so a reference to the
// target itself or to a later calculated field sees the previous record's
// result. The file format and the evaluation rules are written up in
// doc/formula_format.md.
#ifndef QUERY_FORMULA_H_
#define QUERY_FORMULA_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "form.h"
#include "status.h"
#include "formula_file.h"
#include "postfix.h"
#include "store.h"

// The most bytes a formula may assemble to, its literal text and the longest
// text of every field it references together: 1 MiB. Evaluation is linear in
// the assembled length, so this bounds the work and the memory of each
// evaluation.
constexpr uint64_t kMaxAssembledFormula = uint64_t{1} << 20;

// The most bytes the formulas of one record may assemble to together: every
// header calculated field once and every calculated field of every detail
// line once, each at its formula's bound: 64 MiB. This bounds the work of one
// record, whatever the count of lines and fields.
constexpr uint64_t kMaxAssembledPerRecord = uint64_t{1} << 26;

class Formulas {
 public:
  // Reads `<form>.c0`; a missing file means no formulas. A file that exists
  // but is not a regular file or cannot be read is an error naming it. Odd
  // lines are reported in `warnings`, one message each, naming file and line
  // (at most 20, then a count of the rest); they are still read as laid out.
  Status Load(const Form& form, std::vector<std::string>* warnings);
  // The same from file text; `name` is used in the warnings. A formula that
  // applies and could assemble to more than kMaxAssembledFormula bytes is an
  // error naming the file and line.
  Status LoadText(const Form& form, const std::string& name, std::string_view text,
                std::vector<std::string>* warnings);

  // Computes every header calculated field of the current record, but those
  // deferred (below).
  void ComputeHeader(RecordValues* values);
  // Computes every calculated field of present detail line `line`, but those
  // deferred.
  void ComputeLine(int line, RecordValues* values) {
    if (line >= 0 && static_cast<size_t>(line) < line_computes_now_.size() && line_computes_now_[line])
      ComputeLineNow(line, values);
  }

  // Defers the calculated fields that only the output reads: no applying
  // formula refers to them, no search text tests their number (`searched`),
  // they are not field 0 of a detail line (whose text decides whether a line
  // is blank), and their own formula reads no calculated field that comes at
  // or after them (which would still hold the previous record's text while
  // they are computed). Such a field ends with the same text whenever it is
  // computed within its record, so the driver computes it only for what it
  // prints, with the two calls below.
  void DeferFieldsReadOnlyByOutput(const Form& form, const std::vector<int>& searched);
  // True when some formula reads a calculated field of its part that is
  // computed at or after its own, whose text then comes from an earlier
  // record (a running total, say): records must then be computed in order,
  // one after another.
  bool SeesEarlierRecords(const Form& form) const;
  // Computes the deferred header fields of the current record: all of them,
  // or with `printed_only` only those MarkPrinted names (a deferred field
  // that is not printed is read by nothing, and need not be computed).
  void ComputeDeferredHeader(RecordValues* values, bool printed_only = false);
  // Computes the deferred fields of present detail line `line`, as above.
  void ComputeDeferredLine(int line, RecordValues* values, bool printed_only = false);
  // Names the header and detail fields the output prints.
  void MarkPrinted(const std::vector<int>& header_fields, const std::vector<int>& detail_fields);

  // The assembled formula text that computes header field `field` (`line`
  // -1) or field `field` of detail line `line`, from the buffers as they
  // stand; empty when no formula entry applies. For tests and diagnosis.
  std::string Assembled(int line, int field, const RecordValues& values) const;

  const std::vector<FormulaEntry>& entries() const { return entries_; }

 private:
  // One step of a compiled formula: literal formula text or a reference.
  struct Piece {
    enum Kind : uint8_t { kLiteral, kHeader, kHeaderSigned, kDetail } kind;
    uint32_t begin = 0;  // kLiteral: the text's bytes [begin, begin + size)
    uint32_t size = 0;
    int field = 0;       // references: the field named
    bool ends = false;   // what follows begins with no digit or '.' (see Feed)
  };
  // kHeaderSigned is a header reference under the header rule, where a value
  // beginning with '-' enters as " 0 <rest> - ".
  // A step of a formula whose references each stand as whole tokens: a
  // literal token read at load (kind kLiteral), or a reference.
  struct Step {
    Piece::Kind kind;
    PostfixToken token;  // kLiteral
    int field = 0;       // references
  };
  struct Compiled {
    int entry_index = 0;  // into entries_
    std::vector<Piece> pieces;
    // When no reference touches a number character of the literal text on
    // either side, the literal text is read once into tokens and evaluation
    // runs these steps instead of feeding `pieces`; otherwise empty.
    std::vector<Step> steps;
  };
  struct Target {
    int field;    // the calculated field
    int formula;  // index into compiled_, or -1 when no entry applies
    bool deferred = false;  // computed only for output
    bool printed = true;    // the output prints it (see MarkPrinted)
  };
  bool Deferrable(const Form& form, int line, const Target& target,
                  const std::vector<bool>& read) const;
  bool ReadsCalculatedAtOrAfter(const Form& form, int line, const Target& target) const;

  Status Compile(const Form& form);
  uint64_t AssembledBound(const Form& form, const Compiled& compiled,
                          const std::vector<uint32_t>& detail_room) const;
  void CheckLayout(const Form& form, const std::vector<bool>& detail_calculated,
                   const FormulaEntry& entry);
  Compiled CompileLine(const Form& form, int index);
  static std::vector<Step> StepsOf(const Compiled& compiled, std::string_view text);
  void RunSteps(const Compiled& formula, int line, const RecordValues& values);
  void Warn(const std::string& message);
  void Compute(const Target& target, int line, RecordValues* values, FieldBuffer* out);
  void ComputeLineNow(int line, RecordValues* values);
  void NoteLinesComputingNow();
  template <typename Sink>
  void Walk(const Compiled& formula, int line, const RecordValues& values, Sink* sink) const;

  std::string name_;                     // file name for warnings
  std::vector<std::string>* warnings_ = nullptr;
  int warning_count_ = 0;
  int cr_entries_left_ = 0;              // entries holding a carriage return, until reported
  std::vector<FormulaEntry> entries_;       // every entry of the file, inert ones included
  std::vector<Compiled> compiled_;       // one per entry that applies to some field
  std::vector<Target> header_targets_;   // header calculated fields, in field order
  std::vector<Target> line_targets_;     // detail calculated fields, line by line
  std::vector<uint32_t> line_begin_;     // line s's targets: [line_begin_[s], line_begin_[s+1])
  std::vector<char> line_computes_now_;  // line s has a target that is not deferred
  PostfixEvaluator evaluator_;           // reused by every computation
};

#endif  // QUERY_FORMULA_H_
