// Calculated fields: the formula file and the postfix evaluator.
#ifndef QUERY_FORMULA_H_
#define QUERY_FORMULA_H_

#include <string>
#include <vector>

#include "form.h"
#include "status.h"
#include "store.h"

class Formulas {
 public:
  // Reads `<form>.c0`; a missing file means no formulas. Odd lines are
  // reported in `warnings`, one message each.
  Status Load(const Form& form, std::vector<std::string>* warnings);
  // Computes every header calculated field of the current record.
  void ComputeHeader(RecordValues* values);
  // Computes every calculated field of present detail line `line`.
  void ComputeLine(int line, RecordValues* values);
};

#endif  // QUERY_FORMULA_H_
