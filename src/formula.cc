// Calculated fields: reading the formula file and compiling each formula
// into literal pieces and field references (evaluation: formula_compute.cc).
#include "formula.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "file_io.h"

namespace {

// White space as a decimal scan skips it.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNumberChar(char c) { return IsDigit(c) || c == '.'; }

// The field number of a reference: the characters after the reference letter
// (at most two) read as a decimal integer, leading white space and a sign
// allowed, reading stopping at the first non-digit ('h0x' names field 0).
int ReferenceNumber(std::string_view chars) {
  size_t i = 0;
  while (i < chars.size() && IsSpace(chars[i])) ++i;
  bool negative = false;
  if (i < chars.size() && (chars[i] == '+' || chars[i] == '-')) negative = chars[i++] == '-';
  int value = 0;
  while (i < chars.size() && IsDigit(chars[i])) value = value * 10 + (chars[i++] - '0');
  return negative ? -value : value;
}

bool IsTwoDigits(std::string_view chars) {
  return chars.size() == 2 && IsDigit(chars[0]) && IsDigit(chars[1]);
}

// Shows bytes in a message: control characters as \r, \t or \xNN.
std::string Visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 32 || u >= 127) {
      static const char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

constexpr int kMaxTargets = 100;  // a target is at most two digits
constexpr int kMaxWarnings = 20;  // beyond this a broken file only gets a count

}  // namespace

// ---- Loading

Status Formulas::Load(const Form& form, std::vector<std::string>* warnings) {
  const std::string name = form.path + ".c0";
  std::string text;
  ReadResult r = ReadWholeFile(name, &text, kMaxFormFileSize);
  if (r == ReadResult::kMissing) {
    text.clear();  // no formula file: no formulas
  } else if (r == ReadResult::kTooLarge) {
    return Status::Error("formula file '" + name + "' is larger than the 16 MiB a formula file may hold");
  } else if (r != ReadResult::kOk) {
    return Status::Error("formula file '" + name + "' " + DescribeReadFailure(r));
  }
  return LoadText(form, name, text, warnings);
}

Status Formulas::LoadText(const Form& form, const std::string& name, std::string_view text,
                          std::vector<std::string>* warnings) {
  name_ = name;
  warnings_ = warnings;
  warning_count_ = 0;
  entries_ = ReadFormulaEntries(text);
  Status s = Compile(form);
  if (warning_count_ > kMaxWarnings && warnings_ != nullptr) {
    warnings_->push_back(name_ + ": " + std::to_string(warning_count_ - kMaxWarnings) +
                         " more warnings not shown");
  }
  warnings_ = nullptr;
  return s;
}

void Formulas::Warn(const std::string& message) {
  if (warnings_ != nullptr && ++warning_count_ <= kMaxWarnings) {
    warnings_->push_back(name_ + " " + message);
  }
}

// Decides, once, which line computes each calculated field (the last line
// naming it), compiles those lines, and reports odd lines.
Status Formulas::Compile(const Form& form) {
  std::vector<int> last_header(kMaxTargets, -1), last_detail(kMaxTargets, -1);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const FormulaEntry& l = entries_[i];
    if (!l.has_target || l.target < 0 || l.target >= kMaxTargets) continue;
    if (l.section == 'h') last_header[l.target] = static_cast<int>(i);
    if (l.section == 'd') last_detail[l.target] = static_cast<int>(i);
  }
  std::vector<bool> detail_calculated(static_cast<size_t>(form.field_count), false);
  // The longest text each detail field number holds on any line.
  std::vector<uint32_t> detail_room(static_cast<size_t>(form.field_count), 0);
  for (int s = 0; s < form.line_count; ++s) {
    for (int f = 0; f < form.field_count; ++f) {
      if (form.detail(s, f).type == kCalculatedType) detail_calculated[f] = true;
      detail_room[f] = std::max(detail_room[f], FieldRoom(form.detail(s, f), form, false));
    }
  }
  cr_entries_left_ = 0;
  for (const FormulaEntry& l : entries_) {
    if ((l.section == 'h' || l.section == 'd') && l.text.find('\r') != std::string::npos)
      ++cr_entries_left_;
  }

  // Lines that compute some field, in file order, so warnings come in order.
  std::vector<int> compiled_of(entries_.size(), -1);
  compiled_.clear();
  std::vector<uint64_t> bound_of;  // each compiled formula's assembled bound
  for (size_t i = 0; i < entries_.size(); ++i) {
    const FormulaEntry& l = entries_[i];
    bool applies = false;
    if (l.has_target && l.target >= 0 && l.target < kMaxTargets) {
      if (l.section == 'h') {
        applies = last_header[l.target] == static_cast<int>(i) && l.target < form.header_count &&
                  form.ph[l.target].type == kCalculatedType;
      } else if (l.section == 'd') {
        applies = last_detail[l.target] == static_cast<int>(i) && l.target < form.field_count &&
                  detail_calculated[l.target];
      }
    }
    CheckLayout(form, detail_calculated, l);
    if (!applies) continue;
    compiled_of[i] = static_cast<int>(compiled_.size());
    compiled_.push_back(CompileLine(form, static_cast<int>(i)));
    const uint64_t bound = AssembledBound(form, compiled_.back(), detail_room);
    bound_of.push_back(bound);
    if (bound > kMaxAssembledFormula) {
      compiled_.clear();
      return Status::Error("formula file '" + name_ + "', line " +
                           std::to_string(l.text_line_number) + ": the formula with the text of "
                           "the fields it references can reach " + std::to_string(bound) +
                           " bytes, beyond the limit of 1 MiB for a formula");
    }
  }

  // What one record can cost: every header target once, and every target
  // of every detail line once, each at most its formula's bound.
  uint64_t record_bound = 0;
  header_targets_.clear();
  for (int f = 0; f < form.header_count; ++f) {
    if (form.ph[f].type != kCalculatedType) continue;
    int line = f < kMaxTargets ? last_header[f] : -1;
    header_targets_.push_back({f, line < 0 ? -1 : compiled_of[line]});
    if (header_targets_.back().formula >= 0) record_bound += bound_of[header_targets_.back().formula];
  }
  line_targets_.clear();
  line_begin_.assign(1, 0);
  for (int s = 0; s < form.line_count; ++s) {
    for (int f = 0; f < form.field_count; ++f) {
      if (form.detail(s, f).type != kCalculatedType) continue;
      int line = f < kMaxTargets ? last_detail[f] : -1;
      line_targets_.push_back({f, line < 0 ? -1 : compiled_of[line]});
      if (line_targets_.back().formula >= 0) record_bound += bound_of[line_targets_.back().formula];
    }
    line_begin_.push_back(static_cast<uint32_t>(line_targets_.size()));
  }
  NoteLinesComputingNow();
  if (record_bound > kMaxAssembledPerRecord) {
    compiled_.clear();
    header_targets_.clear();
    line_targets_.clear();
    line_begin_.assign(1, 0);
    NoteLinesComputingNow();
    return Status::Error("formula file '" + name_ + "': the formulas that apply to one record, "
                         "with the text of the fields they reference, can reach " +
                         std::to_string(record_bound) + " bytes, beyond the limit of 64 MiB for a record");
  }
  return Status::Ok();
}

// The most bytes `compiled` can assemble to: its literal text plus the room
// of every field it references (a negative header value under the header rule
// gains " 0 " and " - "). A formula file holds at most 16 MiB, so the sum of
// at most 16 Mi terms of below 2^17 cannot overflow.
uint64_t Formulas::AssembledBound(const Form& form, const Compiled& compiled,
                                  const std::vector<uint32_t>& detail_room) const {
  uint64_t bound = 0;
  for (const Piece& p : compiled.pieces) {
    switch (p.kind) {
      case Piece::kLiteral:
        bound += p.size;
        break;
      case Piece::kHeaderSigned:
        bound += 6;
        [[fallthrough]];
      case Piece::kHeader:
        if (p.field >= 0 && p.field < form.header_count)
          bound += FieldRoom(form.ph[static_cast<size_t>(p.field)], form, true);
        break;
      case Piece::kDetail:
        if (p.field >= 0 && p.field < form.field_count)
          bound += detail_room[static_cast<size_t>(p.field)];
        break;
    }
  }
  return bound;
}

// Reports a line that breaks the layout of a formula line, or whose target
// is no calculated field of its section.
void Formulas::CheckLayout(const Form& form, const std::vector<bool>& detail_calculated,
                           const FormulaEntry& l) {
  const std::string where = "line " + std::to_string(l.line_number) + ": ";
  const std::string taken_in =
      l.text_line_number > l.line_number
          ? "; line " + std::to_string(l.text_line_number) + " is read as part of it"
          : "";
  if (l.section == '\n') {
    if (l.text_line_number > l.line_number) {
      Warn(where + "empty line; line " + std::to_string(l.text_line_number) +
           " after it is read as part of an inert entry and never applies");
    } else {
      Warn(where + "empty line");
    }
    return;
  }
  if (IsSpace(l.section)) {
    Warn(where + "begins with white space, so it is an inert entry and never applies" + taken_in);
    return;
  }
  if (l.section != 'h' && l.section != 'd') return;  // inert by choice, as 'H' or '#'
  if (l.had_nul) Warn(where + "a NUL byte ends the formula text");
  // Said once for a file saved with CR LF line ends, not once per line.
  if (cr_entries_left_ > 0 && l.text.find('\r') != std::string::npos) {
    const int others = cr_entries_left_ - 1;
    cr_entries_left_ = 0;
    Warn(where + "the formula holds a carriage return" +
         (others > 0 ? " (as do " + std::to_string(others) + " more lines)" : std::string()) +
         "; it is an operator that discards the value on top of the stack");
  }
  const std::string letter(1, l.section);
  if (!l.has_target) {
    Warn(where + "no target field number after '" + letter + "'; the line never applies" +
         taken_in);
    return;
  }
  if (!IsTwoDigits(l.target_text)) {
    Warn(where + "the target '" + Visible(l.target_text) + "' after '" + letter +
         "' is not two digits; it is read as field " + std::to_string(l.target) + taken_in);
  }
  if (l.section == 'h' && (l.target < 0 || l.target >= form.header_count ||
                           form.ph[l.target].type != kCalculatedType)) {
    Warn(where + "header field " + std::to_string(l.target) +
         " is not a calculated field; the line never applies");
  } else if (l.section == 'd' && (l.target < 0 || l.target >= form.field_count ||
                                  !detail_calculated[l.target])) {
    Warn(where + "detail field " + std::to_string(l.target) +
         " is not a calculated field on any detail line; the line never applies");
  }
}

// Splits a formula into literal text and references. The header rule knows
// only 'h' references, and a header value beginning with '-' enters as zero
// minus its magnitude; the detail rule knows 'h' and 'd' and appends values
// unchanged. A reference letter and the two characters after it are consumed
// whatever they hold.
Formulas::Compiled Formulas::CompileLine(const Form& form, int index) {
  const FormulaEntry& l = entries_[static_cast<size_t>(index)];
  const bool header_rule = l.section == 'h';
  const std::string where = "line " + std::to_string(l.text_line_number) + ": ";
  Compiled compiled;
  compiled.entry_index = index;
  const std::string_view text = l.text;
  size_t literal = 0;  // start of the literal text not yet made a piece
  auto flush = [&](size_t end) {
    if (end > literal) {
      compiled.pieces.push_back({Piece::kLiteral, static_cast<uint32_t>(literal),
                                 static_cast<uint32_t>(end - literal), 0});
    }
  };
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c != 'h' && (header_rule || c != 'd')) {
      ++i;
      continue;
    }
    flush(i);
    const std::string_view chars = text.substr(i + 1, 2);
    const std::string shown = Visible(text.substr(i, 1 + chars.size()));
    const bool of_header = c == 'h';
    const int field = ReferenceNumber(chars);
    const int count = of_header ? form.header_count : form.field_count;
    const char* part = of_header ? "header" : "detail";
    if (chars.empty()) {
      Warn(where + "reference letter '" + shown + "' at the end of the formula; it adds nothing");
    } else {
      if (!IsTwoDigits(chars)) {
        Warn(where + "reference '" + shown + "' is not followed by two digits; it is read as " +
             part + " field " + std::to_string(field));
      }
      if (field < 0 || field >= count) {
        Warn(where + "reference '" + shown + "' names " + part + " field " +
             std::to_string(field) + ", which the form does not have; it adds nothing");
      }
      Piece::Kind kind = !of_header ? Piece::kDetail
                         : header_rule ? Piece::kHeaderSigned
                                       : Piece::kHeader;
      compiled.pieces.push_back({kind, 0, 0, field});
    }
    i += 1 + chars.size();
    literal = i;
  }
  flush(text.size());
  // A piece ends its number tokens when the next one is literal text that
  // begins with no number character, or when it is the last.
  for (size_t k = 0; k < compiled.pieces.size(); ++k) {
    if (k + 1 == compiled.pieces.size()) {
      compiled.pieces[k].ends = true;
    } else {
      const Piece& next = compiled.pieces[k + 1];
      compiled.pieces[k].ends = next.kind == Piece::kLiteral && !IsNumberChar(text[next.begin]);
    }
  }
  compiled.steps = StepsOf(compiled, text);
  return compiled;
}

// The steps of `compiled` (whose literal pieces are bytes of `text`), or none
// when some reference could run into a number token of the literal text: a
// reference right after another, or beside a digit or '.'. Without that, every
// token of the literal text is whole whatever the fields hold, and reads the
// same at load as during evaluation.
std::vector<Formulas::Step> Formulas::StepsOf(const Compiled& compiled, std::string_view text) {
  std::vector<Step> steps;
  const std::vector<Piece>& pieces = compiled.pieces;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const Piece& p = pieces[k];
    if (p.kind == Piece::kLiteral) {
      for (const PostfixToken& token : TokenizePostfix(text.substr(p.begin, p.size)))
        steps.push_back({Piece::kLiteral, token, 0});
      continue;
    }
    const bool whole_before = k == 0 || (pieces[k - 1].kind == Piece::kLiteral &&
                                         !IsNumberChar(text[pieces[k - 1].begin + pieces[k - 1].size - 1]));
    if (!whole_before || !p.ends) return {};
    steps.push_back({p.kind, PostfixToken(), p.field});
  }
  return steps;
}
