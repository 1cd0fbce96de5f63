// A document's page: its screen as the form's masks lay it out, with links
// to the documents before and after it, to the list, and to its JSON.
#ifndef SERVE_DOCUMENT_PAGE_H_
#define SERVE_DOCUMENT_PAGE_H_

#include <cstdint>
#include <string>

#include "engine.h"
#include "form_registry.h"
#include "responses.h"
#include "text_encoding.h"

// The page of record n, read through `reader` (which it also uses to read
// the neighbours for their addresses). A record the store does not hold is
// a 404; a read that fails, a 503.
bool DocumentPage(const ServedForm& form, RecordReader* reader, int64_t n, const Utf8Converter& converter,
                  std::string* page, RequestError* error);

#endif  // SERVE_DOCUMENT_PAGE_H_
