// The store checker: reads a store and reports what does not hold.
//
// It checks INFO's count against the size of HEAD, that every header record
// and every detail line in use ends in a line feed, that every detail
// pointer names a record inside DOC and no two lines share one, that H holds
// header field 0 of each record, and that no writer left a journal behind.
// It reads under the readers' lock and never writes, not even to roll a
// dead writer's change back: that journal is reported instead.
#ifndef QUERY_STORE_CHECK_H_
#define QUERY_STORE_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "form.h"
#include "status.h"

struct CheckReport {
  std::vector<std::string> problems;  // one sentence each; empty when all holds
  int64_t documents = 0;              // records checked
  int64_t lines = 0;                  // detail pointers that name a DOC record
};

// Checks the store in `dir` against `form`. An error only when the store
// cannot be read at all (INFO, HEAD or DOC cannot be opened).
Status CheckStore(const Form& form, const std::string& dir, CheckReport* report);

// Loads the form at `form_path` and checks the store in the current
// directory: what `query --check` runs.
Status CheckStoreCommand(const std::string& form_path, CheckReport* report);

#endif  // QUERY_STORE_CHECK_H_
