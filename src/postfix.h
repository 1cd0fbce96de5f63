// The postfix evaluator of calculated fields, and the "%.2lf" form of its
// results.
#ifndef QUERY_POSTFIX_H_
#define QUERY_POSTFIX_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

// A token of formula text read once, at load: a number's value, or an
// operator character.
struct PostfixToken {
  double value = 0.0;
  char op = 0;  // 0 for a number
};

// The tokens the evaluator reads from `text` when no number token runs into
// it from before or on past its end: blanks separate, digits and '.' make a
// number token, and every other character is an operator of its own.
std::vector<PostfixToken> TokenizePostfix(std::string_view text);

// The postfix evaluator, fed the assembled formula in pieces. A number token
// may run across pieces ("1" then "2.5" is the token 12.5). Its working
// storage is kept from one evaluation to the next, so evaluating allocates
// only when a formula needs more room than any before it.
//
// Tokens: digits and '.' build a number token, a blank ends one, and every
// other character ends one and is an operator of its own. A number token
// pushes the value of its longest leading decimal number (0 when it has none,
// as for a lone '.'). '+', '-', '*' and '/' combine the two top values; any
// other operator discards the top value; an operator that finds fewer values
// than it needs is ignored. Division by zero (of either sign) ends the
// evaluation with "/BY0". The result is the bottom value, 0 when none was
// ever pushed.
class PostfixEvaluator {
 public:
  PostfixEvaluator() : slots_(32, 0.0) {}

  // Starts a new formula.
  void Reset() {
    depth_ = 0;
    slots_[0] = 0.0;
    number_.clear();
    divided_by_zero_ = false;
  }
  // Feeds the next piece of the assembled formula. `ends` says that what
  // follows it (the next piece or the end of the formula) begins with no
  // digit or '.', so a number token at its end is complete.
  void Feed(std::string_view text, bool ends = false);
  // Feed(text, true) for text that no number token runs into from before:
  // a field's text between literal pieces that end and begin tokens.
  void FeedWhole(std::string_view text);
  // Applies a token of TokenizePostfix, as feeding its text would.
  void Apply(const PostfixToken& token) {
    if (divided_by_zero_) return;
    if (token.op == 0) {
      PushValue(token.value);
    } else {
      Operator(token.op);
    }
  }
  // True once a division by zero has ended the evaluation; later pieces are
  // ignored.
  bool stopped() const { return divided_by_zero_; }
  // Ends the formula and writes its result into `result` (which must have
  // room for kCalculatedCapacity bytes). Returns 0 after a number, 1 after a
  // division by zero.
  int Finish(FieldBuffer* result);

 private:
  void EndNumber();
  void Push(const char* first, const char* last);
  void PushValue(double value) {
    if (depth_ == slots_.size()) {
      slots_.push_back(value);
    } else {
      slots_[depth_] = value;
    }
    ++depth_;
  }
  void Operator(char op);

  std::vector<double> slots_;  // the value stack, slot 0 at the bottom; grows as needed
  size_t depth_ = 0;           // number of the next free slot
  std::string number_;         // a number token still being built across pieces
  bool divided_by_zero_ = false;
};

// Evaluates a whole assembled formula; see PostfixEvaluator. Returns 0 after a
// number, 1 after a division by zero ("/BY0").
int EvaluatePostfix(std::string_view assembled, FieldBuffer* result);

// Writes `value` exactly as "%.2lf" does into `out` (room for
// kCalculatedCapacity bytes) and returns the length.
size_t FormatResult(double value, char* out);

#endif  // QUERY_POSTFIX_H_
