// Query arguments, their matching, and the selection they make.
#include "selection.h"

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "escape.h"
#include "search_memo.h"

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

namespace {

// Bit 5 set in every byte when `c` is a lower-case letter: OR-ing it into a
// byte equals `c` for exactly the two cases of the letter. Zero otherwise.
inline uint8_t CaseFold(char c) { return c >= 'a' && c <= 'z' ? 0x20 : 0; }

// True when the needle's characters after the first two equal those at `at`
// in any case.
inline bool RestMatches(const char* at, std::string_view needle) {
  size_t j = 2;
  while (j < needle.size() && LowerAscii(at[j]) == needle[j]) ++j;
  return j == needle.size();
}

#if defined(__SSE2__)
// The needle (two characters or more) in the first `text.size()` bytes,
// sixteen candidate positions at a time: a candidate is where both of the
// needle's first two characters are, in either case. The text holds at
// least 17 bytes, so every load lies within it.
bool FindPairwise(std::string_view text, std::string_view needle) {
  const char* const p = text.data();
  const size_t last = text.size() - needle.size();  // the last candidate position
  const __m128i fold0 = _mm_set1_epi8(static_cast<char>(CaseFold(needle[0])));
  const __m128i fold1 = _mm_set1_epi8(static_cast<char>(CaseFold(needle[1])));
  const __m128i want0 = _mm_set1_epi8(needle[0]);
  const __m128i want1 = _mm_set1_epi8(needle[1]);
  // Candidates at positions [at, at + 16), kept only in [from, last].
  auto search = [&](size_t at, size_t from) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + 1));
    const __m128i both = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(first, fold0), want0),
                                       _mm_cmpeq_epi8(_mm_or_si128(second, fold1), want1));
    uint32_t hits = static_cast<uint32_t>(_mm_movemask_epi8(both));
    hits &= ~((1u << (from - at)) - 1);
    if (last - at < 15) hits &= (1u << (last - at + 1)) - 1;
    for (; hits != 0; hits &= hits - 1)
      if (RestMatches(p + at + static_cast<size_t>(std::countr_zero(hits)), needle)) return true;
    return false;
  };
  size_t at = 0;
  for (; at + 17 <= text.size() && at <= last; at += 16)
    if (search(at, at)) return true;
  // The positions left, in the last 17 bytes.
  return at <= last && search(text.size() - 17, at);
}
#endif

}  // namespace

bool MatchesField(std::string_view text, int length, std::string_view needle) {
  if (length < 0) length = 0;
  if (text.size() > static_cast<size_t>(length)) text = text.substr(0, static_cast<size_t>(length));
  if (needle.empty() || needle.size() > text.size()) return false;
#if defined(__SSE2__)
  if (needle.size() >= 2 && text.size() >= 17) return FindPairwise(text, needle);
#endif
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

QueryArgument MakeQueryArgument(char letter, int field, char separator, std::string_view search) {
  QueryArgument arg;
  arg.letter = letter;
  arg.field = field;
  arg.has_separator = separator != '\0' || !search.empty();
  arg.separator = separator;
  arg.search = std::string(search);
  for (char& c : arg.search) c = LowerAscii(c);
  char number[16];
  std::snprintf(number, sizeof number, "%02d", field);
  arg.text = std::string(1, letter) + number + (arg.has_separator ? std::string(1, separator) : "") +
             std::string(search);
  return arg;
}

// ---- Selection

namespace {

// The id of the next selection made.
std::atomic<uint64_t> next_selection_id{1};

}  // namespace

Selection::Selection() : id_(next_selection_id.fetch_add(1, std::memory_order_relaxed)) {}

Selection::Selection(std::vector<QueryArgument> arguments)
    : arguments_(std::move(arguments)), id_(next_selection_id.fetch_add(1, std::memory_order_relaxed)) {
  size_t last_searched = 0;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    if (arguments_[i].search.empty()) continue;
    searched_.push_back(i);
    last_searched = i;
  }
  accept_all_ = !arguments_.empty() && !arguments_[0].search.empty() && arguments_[0].search[0] == '*';
  shortcut_ = !arguments_.empty() && !arguments_[0].search.empty() && last_searched == 0;
}

Selection Selection::FromText(const std::vector<std::string>& texts) {
  std::vector<QueryArgument> arguments;
  arguments.reserve(texts.size());
  for (const std::string& text : texts) arguments.push_back(ParseQueryArgument(text));
  return Selection(std::move(arguments));
}

std::vector<int> Selection::SearchedFields() const {
  std::vector<int> fields;
  for (size_t i : searched_) fields.push_back(arguments_[i].field);
  return fields;
}

std::string Selection::KeyShortcutProbe(int key_length) const {
  if (!shortcut_ || key_length <= 0) return {};
  std::string probe = arguments_[0].search;
  if (probe.size() < static_cast<size_t>(key_length)) probe.resize(static_cast<size_t>(key_length), ' ');
  return probe;
}

bool Selection::AcceptsHeaderOnly(const Form& form, const RecordValues& values) const {
  if (accept_all_) return true;
  for (size_t i : searched_) {
    const QueryArgument& arg = arguments_[i];
    int length = arg.field >= 0 && arg.field < form.header_count ? form.ph[arg.field].length : 0;
    if (!MatchesField(values.HeaderText(arg.field), length, arg.search)) return false;
  }
  return true;
}

bool Selection::AcceptsLine(const Form& form, const RecordValues& values, int line, SearchMemo* memo) const {
  if (accept_all_) return true;
  if (memo != nullptr && memo->selection_id() != id_) memo = nullptr;  // planned for other arguments
  for (size_t k = 0; k < searched_.size(); ++k) {
    const QueryArgument& arg = arguments_[searched_[k]];
    bool matched = false;
    if (arg.IsHeader()) {
      int length = arg.field >= 0 && arg.field < form.header_count ? form.ph[arg.field].length : 0;
      matched = MatchesField(values.HeaderText(arg.field), length, arg.search);
    } else if (arg.IsDetail()) {
      const int64_t record = memo != nullptr ? values.FetchedRecord(line, arg.field) : -1;
      const SearchMemo::Verdict remembered = record >= 0 ? memo->Recall(k, line, record) : SearchMemo::kUnknown;
      if (remembered != SearchMemo::kUnknown) {
        matched = remembered == SearchMemo::kAccepted;
      } else {
        int length = arg.field >= 0 && arg.field < form.field_count ? form.detail(line, arg.field).length : 0;
        matched = MatchesField(values.DetailText(line, arg.field), length, arg.search);
        if (record >= 0) memo->Remember(k, line, record, matched ? SearchMemo::kAccepted : SearchMemo::kRejected);
      }
    }
    if (!matched) return false;
  }
  return true;
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
std::vector<std::string> Selection::Warnings(const Form& form) const {
  std::vector<std::string> warnings;
  for (const QueryArgument& arg : arguments_) {
    // The argument is a stranger's text: its control bytes are shown escaped.
    const std::string text = EscapeControlBytes(arg.text);
    if (arg.IsHeader() && (arg.field < 0 || arg.field >= form.header_count)) {
      warnings.push_back("argument '" + text + "' names header field " + std::to_string(arg.field) +
                         ", but the form has " + std::to_string(form.header_count) +
                         " header fields; it reads as empty text");
    } else if (arg.IsDetail() && (arg.field < 0 || arg.field >= form.field_count)) {
      warnings.push_back("argument '" + text + "' names detail field " + std::to_string(arg.field) +
                         ", but the form has " + std::to_string(form.field_count) +
                         " fields per detail line; it reads as empty text");
    } else if ((arg.IsHeader() || arg.IsDetail()) && !HasTwoDigitNumber(arg.text)) {
      warnings.push_back("argument '" + text + "' has no two-digit field number after its letter; it reads as " +
                         (arg.IsHeader() ? "header" : "detail") + " field " + std::to_string(arg.field) +
                         (arg.has_separator ? " with the separator '" +
                                                  EscapeControlBytes(std::string_view(&arg.separator, 1)) + "'"
                                            : std::string(" without a separator")));
    }
  }
  return warnings;
}
