// The postfix evaluator and the form of its results.
#include "postfix.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "short_copy.h"

namespace {

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool IsNumberChar(char c) { return IsDigit(c) || c == '.'; }
bool IsArithmetic(char c) { return c == '+' || c == '-' || c == '*' || c == '/'; }

}  // namespace

namespace {

// Reads a token of digits and at most one '.', holding at most 15 digits, as
// their integer divided by a power of ten. Both are exact doubles and one
// division rounds correctly, so the value is the one strtod gives. False for
// any other token, which takes the general path.
bool FastDecimal(const char* first, const char* last, double* value) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  uint64_t mantissa = 0;
  int digits = 0;
  int decimals = -1;  // digits after the point; -1 while no point was seen
  for (const char* p = first; p < last; ++p) {
    if (*p == '.') {
      if (decimals >= 0) return false;  // a second point: "1.2.3" reads as 1.2
      decimals = 0;
      continue;
    }
    if (++digits > 15) return false;
    mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    if (decimals >= 0) ++decimals;
  }
  if (digits == 0) return false;
  *value = static_cast<double>(mantissa) / kPowersOfTen[decimals < 0 ? 0 : decimals];
  return true;
}

}  // namespace

namespace {

// The number token at `p` (a digit or '.'), up to `end`: returns where it
// ends. While it is a plain decimal (at most 15 digits and one point) its
// value is read as FastDecimal reads it, in one pass, into `*value`, and
// `*plain` is set; otherwise the general path must read it.
inline const char* ScanNumber(const char* p, const char* end, double* value, bool* plain) {
  static constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* q = p;
  uint64_t mantissa = 0;  // wraps past 19 digits, but is then not used
  while (q < end && IsDigit(*q)) mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0');
  const long whole_digits = q - p;
  long decimals = 0;
  if (q < end && *q == '.') {
    const char* fraction = ++q;
    while (q < end && IsDigit(*q)) mantissa = mantissa * 10 + static_cast<uint64_t>(*q++ - '0');
    decimals = q - fraction;
  }
  const long digits = whole_digits + decimals;
  *plain = digits > 0 && digits <= 15;
  if (q < end && *q == '.') {  // a second point: the general path reads the token
    *plain = false;
    while (q < end && IsNumberChar(*q)) ++q;
  }
  if (*plain) *value = static_cast<double>(mantissa) / kPowersOfTen[decimals];
  return q;
}

}  // namespace

void PostfixEvaluator::Feed(std::string_view text, bool ends) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && !divided_by_zero_) {
    const char c = *p;
    if (c == ' ') {
      EndNumber();
      ++p;
      continue;
    }
    if (!IsNumberChar(c)) {
      EndNumber();
      Operator(c);
      ++p;
      continue;
    }
    double value = 0.0;
    bool plain;
    const char* q = ScanNumber(p, end, &value, &plain);
    if ((q < end || ends) && number_.empty()) {
      // The whole token lies in this piece.
      if (plain) {
        PushValue(value);
      } else {
        Push(p, q);
      }
    } else {
      number_.append(p, static_cast<size_t>(q - p));  // it may go on in the next piece
    }
    p = q;
  }
}

void PostfixEvaluator::FeedWhole(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (divided_by_zero_) return;
  while (p < end) {
    // A run of blanks, the padding of most numbers in fields, in one step.
    while (*p == ' ') {
      if (++p == end) return;
    }
    const char c = *p;
    if (!IsNumberChar(c)) {
      Operator(c);
      ++p;
      if (divided_by_zero_) return;  // later pieces are ignored
    } else {
      double value = 0.0;
      bool plain;
      const char* q = ScanNumber(p, end, &value, &plain);
      if (plain) {
        PushValue(value);
      } else {
        Push(p, q);
      }
      p = q;
    }
  }
}

void PostfixEvaluator::EndNumber() {
  if (number_.empty()) return;
  Push(number_.data(), number_.data() + number_.size());
  number_.clear();
}

namespace {

// The value of the longest leading decimal number of the token [first,
// last), which holds only digits and '.'. It is read as strtod reads it:
// correctly rounded, infinity past the largest double, 0 below the smallest.
double NumberTokenValue(const char* first, const char* last) {
  double value = 0.0;
  if (FastDecimal(first, last, &value)) return value;
  std::from_chars_result r = std::from_chars(first, last, value, std::chars_format::fixed);
  if (r.ec == std::errc::invalid_argument) return 0.0;  // no leading number, as in a lone '.'
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range only when the result would be infinite or zero; a number of
    // 1 or more cannot underflow.
    bool at_least_one = false;
    for (const char* p = first; p < r.ptr && *p != '.'; ++p) at_least_one |= *p != '0';
    return at_least_one ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return value;
}

}  // namespace

void PostfixEvaluator::Push(const char* first, const char* last) { PushValue(NumberTokenValue(first, last)); }

std::vector<PostfixToken> TokenizePostfix(std::string_view text) {
  std::vector<PostfixToken> tokens;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    if (*p == ' ') {
      ++p;
    } else if (!IsNumberChar(*p)) {
      tokens.push_back({0.0, *p++});
    } else {
      const char* q = p;
      while (q < end && IsNumberChar(*q)) ++q;
      tokens.push_back({NumberTokenValue(p, q), 0});
      p = q;
    }
  }
  return tokens;
}

void PostfixEvaluator::Operator(char op) {
  const bool arithmetic = IsArithmetic(op);
  if (depth_ < (arithmetic ? 2u : 1u)) return;  // too few values: ignored
  --depth_;
  const double upper = slots_[depth_];
  if (arithmetic) {
    double& lower = slots_[depth_ - 1];
    switch (op) {
      case '+': lower += upper; break;
      case '-': lower -= upper; break;
      case '*': lower *= upper; break;
      default:
        if (upper == 0.0) {  // true for -0.0 too
          divided_by_zero_ = true;
          return;
        }
        lower /= upper;
        break;
    }
  }
  slots_[depth_] = 0.0;  // also what the result reads when the stack is now empty
}

int PostfixEvaluator::Finish(FieldBuffer* result) {
  if (divided_by_zero_) {
    result->Assign("/BY0", 4);
    return 1;
  }
  EndNumber();
  // A result holds no NUL and at most kCalculatedCapacity bytes: written in
  // place where the buffer has that room, as every calculated field's has.
  if (result->capacity >= kCalculatedCapacity) {
    result->size = static_cast<uint32_t>(FormatResult(slots_[0], result->data));
    return 0;
  }
  char text[kCalculatedCapacity];
  result->Assign(text, FormatResult(slots_[0], text));
  return 0;
}

namespace {

// Writes the value as "%.2lf" would when its hundredfold lies clearly off a
// rounding tie: then rounding the computed hundredfold (within a relative
// 2^-53 of the exact one) gives the same cents as rounding the exact value.
// False for ties, huge values, infinities and NaN, which take the general path.
// "00" to "99", the two digits of each number below 100.
struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kDigitPairs;

bool FormatCents(double value, char* out, size_t* length) {
  const double scaled = value * 100.0;
  if (!(std::fabs(scaled) < 4.0e15)) return false;
  // The floor, through the integer (exact at this size) rather than a call.
  int64_t whole = static_cast<int64_t>(scaled);
  if (static_cast<double>(whole) > scaled) --whole;
  const double fraction = scaled - static_cast<double>(whole);  // exact below 2^52
  if (std::fabs(fraction - 0.5) <= std::fabs(scaled) * 4e-16 + 1e-300) return false;
  int64_t cents = whole + (fraction > 0.5 ? 1 : 0);
  uint64_t rest = static_cast<uint64_t>(cents < 0 ? -cents : cents);
  // Written backwards, two digits a step: the cents, the point, the units.
  char text[24];
  char* p = text + sizeof text;
  auto pair = [&](uint64_t two_digits) {
    p -= 2;
    std::memcpy(p, kDigitPairs.text + 2 * two_digits, 2);
  };
  pair(rest % 100);
  rest /= 100;
  *--p = '.';
  while (rest >= 100) {
    pair(rest % 100);
    rest /= 100;
  }
  if (rest >= 10) {
    pair(rest);
  } else {
    *--p = static_cast<char>('0' + rest);  // at least one digit before the point
  }
  if (std::signbit(value)) *--p = '-';  // "-0.00" for a negative that rounds to zero
  *length = static_cast<size_t>(text + sizeof text - p);
  CopyShort(out, p, *length);
  return true;
}

}  // namespace

size_t FormatResult(double value, char* out) {
  size_t length;
  if (FormatCents(value, out, &length)) return length;
  std::to_chars_result r =
      std::to_chars(out, out + kCalculatedCapacity, value, std::chars_format::fixed, 2);
  return r.ec == std::errc() ? static_cast<size_t>(r.ptr - out) : 0;
}

int EvaluatePostfix(std::string_view assembled, FieldBuffer* result) {
  PostfixEvaluator evaluator;
  evaluator.Reset();
  evaluator.Feed(assembled);
  return evaluator.Finish(result);
}
