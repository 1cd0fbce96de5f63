// The query driver.
#include "query.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "escape.h"
#include "header_index.h"
#include "store_files.h"
#include "tcp.h"

namespace {

// The field number: up to two characters read as a decimal integer, with
// leading blanks and a sign allowed ('h 5;', 'h-1;').
int ParseFieldNumber(std::string_view digits) {
  char text[3] = {0, 0, 0};
  digits.copy(text, 2);
  return std::atoi(text);
}

}  // namespace

QueryArgument ParseQueryArgument(std::string_view text) {
  QueryArgument arg;
  arg.text = std::string(text);
  if (!text.empty()) arg.letter = text[0];
  if (text.size() > 1) arg.field = ParseFieldNumber(text.substr(1, 2));
  if (text.size() > 3) {
    arg.separator = text[3];
    arg.has_separator = true;
  }
  if (text.size() > 4) {
    arg.search = std::string(text.substr(4));
    for (char& c : arg.search) c = LowerAscii(c);
  }
  return arg;
}

bool MatchesField(std::string_view text, int length, std::string_view needle) {
  if (length < 0) length = 0;
  if (text.size() > static_cast<size_t>(length)) text = text.substr(0, static_cast<size_t>(length));
  if (needle.empty() || needle.size() > text.size()) return false;
  // Candidates start with the needle's first character in either case.
  const char lower = needle[0];
  const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 32) : lower;
  const char* const last = text.data() + (text.size() - needle.size());
  // Eight candidates are tested as one word: a letter's two cases differ in
  // bit 5 only, so setting that bit in every byte finds both, and exactly
  // them; any other first character is compared as it is.
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  const uint64_t fold = lower != upper ? kOnes * 0x20 : 0;
  const uint64_t want = kOnes * static_cast<unsigned char>(lower);
  const char* p = text.data();
  while (p <= last) {
    if (last - p >= 7) {  // the word's bytes lie within the text
      uint64_t word;
      std::memcpy(&word, p, 8);
      const uint64_t diff = (word | fold) ^ want;
      const uint64_t hits = (diff - kOnes) & ~diff & (kOnes * 0x80);
      if (hits == 0) {
        p += 8;
        continue;
      }
      // The lowest flagged byte is the first candidate: no borrow reaches it.
      if constexpr (std::endian::native == std::endian::little) p += std::countr_zero(hits) / 8;
    }
    if (*p == lower || *p == upper) {
      size_t j = 1;
      while (j < needle.size() && LowerAscii(p[j]) == needle[j]) ++j;
      if (j == needle.size()) return true;
    }
    ++p;
  }
  return false;
}

void Output::Write(const char* bytes, size_t size) {
  if (memory_ != nullptr) {
    memory_->append(bytes, size);
    return;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(fd_, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (write_error_ == 0) write_error_ = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
}

// ---- Start-up

Status Query::Start(const std::string& form_path, const std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    arguments_.push_back(ParseQueryArgument(arguments[i]));
    if (!arguments_.back().search.empty()) last_searched_ = static_cast<int>(i);
  }
  accept_all_ = !arguments_.empty() && !arguments_[0].search.empty() && arguments_[0].search[0] == '*';
  for (const QueryArgument& arg : arguments_)
    if (!arg.search.empty()) searched_.push_back(&arg);
  Status s = LoadForm(form_path, &form_);
  if (!s.ok()) return s;
  if (!(s = formulas_.Load(form_, &warnings_)).ok()) return s;
  std::string trace = "ABIERTO E INICIALIZADO FORM " + form_path + " " +
                      std::to_string(form_.header_count) + " " + std::to_string(form_.line_count) +
                      " " + std::to_string(form_.field_count);
  dbgr(1, trace.c_str());

  std::vector<int> searched_fields;
  for (const QueryArgument* arg : searched_) searched_fields.push_back(arg->field);
  formulas_.DeferFieldsReadOnlyByOutput(form_, searched_fields);

  if (!(s = lookups_.Load(form_)).ok()) return s;
  if (!(s = store_.Open(form_)).ok()) return s;
  for (const std::string& w : store_.warnings()) warnings_.push_back(w);
  values_.Init(form_);
  pointers_.reserve(static_cast<size_t>(form_.line_count));
  WarnAboutFieldNumbers();
  first_record_ = 0;
  end_record_ = store_.record_count();
  ApplyKeyShortcut();
  return Status::Ok();
}

namespace {

// True when the argument holds two digits, or a blank and a digit, after its
// letter: a field number as the usage has it.
bool HasTwoDigitNumber(std::string_view text) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return text.size() >= 3 && (text[1] == ' ' || digit(text[1])) && digit(text[2]);
}

}  // namespace

// An argument whose field number its part does not have reads as empty text
// of length 0: it prints nothing and its search text never matches. One whose
// number characters are no two-digit number ('hxx;', 'h5;abc') is read all
// the same, but said, since the field, separator and search text it gets are
// likely not the ones meant.
void Query::WarnAboutFieldNumbers() {
  for (const QueryArgument& arg : arguments_) {
    // The argument is a stranger's text: its control bytes are shown escaped.
    const std::string text = EscapeControlBytes(arg.text);
    if (arg.IsHeader() && (arg.field < 0 || arg.field >= form_.header_count)) {
      warnings_.push_back("argument '" + text + "' names header field " +
                          std::to_string(arg.field) + ", but the form has " +
                          std::to_string(form_.header_count) +
                          " header fields; it reads as empty text");
    } else if (arg.IsDetail() && (arg.field < 0 || arg.field >= form_.field_count)) {
      warnings_.push_back("argument '" + text + "' names detail field " +
                          std::to_string(arg.field) + ", but the form has " +
                          std::to_string(form_.field_count) +
                          " fields per detail line; it reads as empty text");
    } else if ((arg.IsHeader() || arg.IsDetail()) && !HasTwoDigitNumber(arg.text)) {
      warnings_.push_back("argument '" + text + "' has no two-digit field number after its letter; it reads as " +
                          (arg.IsHeader() ? "header" : "detail") + " field " +
                          std::to_string(arg.field) +
                          (arg.has_separator ? " with the separator '" +
                                                   EscapeControlBytes(std::string_view(&arg.separator, 1)) + "'"
                                             : std::string(" without a separator")));
    }
  }
}

// When only the first argument carries a search text, the header index may
// narrow the run to the one record whose key equals it.
void Query::ApplyKeyShortcut() {
  if (arguments_.empty() || arguments_[0].search.empty() || last_searched_ != 0) return;
  if (form_.header_count == 0) return;
  const int key_length = form_.ph[0].length;
  std::string probe = arguments_[0].search;
  if (probe.size() < static_cast<size_t>(key_length)) probe.resize(static_cast<size_t>(key_length), ' ');
  int64_t found = FindInHeaderIndex(kHeaderIndexFile, probe, key_length, store_.record_count());
  if (found >= 0) {
    first_record_ = found;
    end_record_ = found + 1;
  }
}

// ---- The record loop

Status Query::Run(Output* out) {
  int64_t head_ended_at = -1;
  Status s = RunRange(first_record_, end_record_, out, &head_ended_at);
  if (head_ended_at >= 0) warnings_.push_back(HeadShrankWarning(head_ended_at));
  return s;
}

std::string Query::HeadShrankWarning(int64_t n) {
  return "HEAD shrank while it was read and now holds only " + std::to_string(n) +
         " records; the rest are not examined";
}

Status Query::RunRange(int64_t first, int64_t end, Output* out, int64_t* head_ended_at) {
  *head_ended_at = -1;
  for (int64_t n = store_.NextRecordWithData(first); n < end; n = store_.NextRecordWithData(n + 1)) {
    bool has_detail = false;
    bool beyond_head = false;
    Status s = ReadRecord(n, &has_detail, &beyond_head);
    if (!s.ok()) return s;
    if (beyond_head) {
      *head_ended_at = n;
      break;
    }
    if (has_detail) {
      PrintLines(out);
    } else if (AcceptsHeaderOnly()) {
      formulas_.ComputeDeferredHeader(&values_);
      PrintLine(-1, out);
    }
  }
  return Status::Ok();
}

bool Query::RecordsIndependent() const {
  if (formulas_.SeesEarlierRecords(form_)) return false;
  if (form_.field_count == 0) return true;
  for (int line = 0; line < form_.line_count; ++line)
    if (!IsStoredType(form_.detail(line, 0).type)) return false;
  return true;
}

// Reads record n and resolves it. The header, its pointers and every present
// line are read before anything is resolved: lookups and formulas touch only
// value buffers, never the store, and each line only its own buffers, so the
// results are those of resolving each part as soon as it is read, while the
// lookups of the whole record can be fetched from memory together. A record
// that HEAD no longer holds (it shrank while being read) sets `beyond_head`
// and is not resolved.
Status Query::ReadRecord(int64_t n, bool* has_detail, bool* beyond_head) {
  store_.ReadHeader(n, &values_);
  store_.ReadPointers(&pointers_);
  *has_detail = false;
  *beyond_head = store_.HeadEndsBefore(n);
  if (*beyond_head) return Status::Ok();
  lookups_.PrefetchKeys(-1, values_);
  for (int line = 0; line < form_.line_count; ++line) {
    int64_t& pointer = pointers_[static_cast<size_t>(line)];
    if (pointer < 0) continue;
    if (!store_.ReadDetailLine(line, pointer, &values_)) {
      pointer = -1;
      continue;
    }
    *has_detail = true;
    lookups_.PrefetchKeys(line, values_);
  }
  lookups_.PrefetchRecords(-1, values_);
  for (int line = 0; line < form_.line_count; ++line) {
    if (pointers_[static_cast<size_t>(line)] >= 0) lookups_.PrefetchRecords(line, values_);
  }

  Status s = lookups_.ResolveHeader(&values_);
  if (!s.ok()) return s;
  formulas_.ComputeHeader(&values_);
  for (int line = 0; line < form_.line_count; ++line) {
    if (pointers_[static_cast<size_t>(line)] < 0) continue;
    if (!(s = lookups_.ResolveLine(line, &values_)).ok()) return s;
    formulas_.ComputeLine(line, &values_);
  }
  return Status::Ok();
}

bool Query::AcceptsHeaderOnly() const {
  if (accept_all_) return true;
  for (const QueryArgument* searched : searched_) {
    const QueryArgument& arg = *searched;
    int length = arg.field >= 0 && arg.field < form_.header_count ? form_.ph[arg.field].length : 0;
    if (!MatchesField(values_.HeaderText(arg.field), length, arg.search)) return false;
  }
  return true;
}

bool Query::AcceptsLine(int line) const {
  if (accept_all_) return true;
  for (const QueryArgument* searched : searched_) {
    const QueryArgument& arg = *searched;
    bool matched = false;
    if (arg.IsHeader()) {
      int length = arg.field >= 0 && arg.field < form_.header_count ? form_.ph[arg.field].length : 0;
      matched = MatchesField(values_.HeaderText(arg.field), length, arg.search);
    } else if (arg.IsDetail()) {
      int length = arg.field >= 0 && arg.field < form_.field_count
                       ? form_.detail(line, arg.field).length
                       : 0;
      matched = MatchesField(values_.DetailText(line, arg.field), length, arg.search);
    }
    if (!matched) return false;
  }
  return true;
}

void Query::PrintLines(Output* out) {
  bool header_complete = false;
  for (int line = 0; line < form_.line_count; ++line) {
    if (pointers_[static_cast<size_t>(line)] < 0 || !AcceptsLine(line)) continue;
    if (!header_complete) {
      formulas_.ComputeDeferredHeader(&values_);
      header_complete = true;
    }
    formulas_.ComputeDeferredLine(line, &values_);
    PrintLine(line, out);
  }
}

// Prints one output line; `line` is the detail line, or -1 in header-only mode.
void Query::PrintLine(int line, Output* out) {
  for (const QueryArgument& arg : arguments_) {
    if (arg.IsHeader()) {
      out->Append(values_.HeaderText(arg.field));
    } else if (arg.IsDetail() && line >= 0) {
      out->Append(values_.DetailText(line, arg.field));
    }
    if (arg.has_separator) out->Put(arg.separator);
  }
  out->Put('\n');
}

// ---- Record by record

void Query::SetArguments(std::vector<QueryArgument> arguments) {
  arguments_ = std::move(arguments);
  searched_.clear();
  last_searched_ = 0;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (arguments_[i].search.empty()) continue;
    last_searched_ = static_cast<int>(i);
    searched_.push_back(&arguments_[i]);
  }
  accept_all_ = !arguments_.empty() && !arguments_[0].search.empty() && arguments_[0].search[0] == '*';
  first_record_ = 0;
  end_record_ = store_.record_count();
  ApplyKeyShortcut();
}

Status Query::ReadWholeRecord(int64_t n, bool* beyond_head) {
  bool has_detail = false;
  Status s = ReadRecord(n, &has_detail, beyond_head);
  if (!s.ok() || *beyond_head) return s;
  // A deferred field ends with the same text whenever it is computed within
  // its record, so computing them all now gives what Run would print.
  formulas_.ComputeDeferredHeader(&values_);
  for (int line = 0; line < form_.line_count; ++line) {
    if (LinePresent(line)) formulas_.ComputeDeferredLine(line, &values_);
  }
  return Status::Ok();
}

bool Query::PrintsRecord() const {
  bool has_detail = false;
  for (int line = 0; line < form_.line_count; ++line) {
    if (!LinePresent(line)) continue;
    has_detail = true;
    if (AcceptsLine(line)) return true;
  }
  return !has_detail && AcceptsHeaderOnly();
}
