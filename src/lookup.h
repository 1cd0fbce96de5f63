// Lookup tables: key fields and the derived fields fetched through them.
#ifndef QUERY_LOOKUP_H_
#define QUERY_LOOKUP_H_

#include "form.h"
#include "status.h"
#include "store.h"

class LookupTables {
 public:
  // Loads the keys of every table a header or line-0 key field names.
  Status Load(const Form& form);
  // Rewrites the header key fields of the current record and fills the
  // derived fields they are the source of.
  Status ResolveHeader(RecordValues* values);
  // Fills the derived fields of present detail line `line`.
  Status ResolveLine(int line, RecordValues* values);
};

#endif  // QUERY_LOOKUP_H_
