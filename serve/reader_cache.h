// Readers kept by each worker thread between requests for one document.
//
// Opening a reader opens the store and the lookup tables: as much work as
// answering a request for one document. A worker thread keeps one reader
// per form and lends it to its next request when the form is the same
// snapshot and the store's INFO and HEAD are the same files at the same
// size and time; otherwise it opens a fresh one, so a store that grew is
// seen and one that is gone fails. Readers that scan are not lent: a scan
// narrows what its reader computes, and scans open their own.
#ifndef SERVE_READER_CACHE_H_
#define SERVE_READER_CACHE_H_

#include <memory>

#include "engine.h"
#include "form_registry.h"
#include "status.h"

// A reader of `form`'s store for the calling thread, valid until the
// thread's next call for the same form. Fails as RecordReader::Open does,
// or when the store's INFO cannot be seen.
Status LendReader(const std::shared_ptr<const ServedForm>& form, RecordReader** reader);

#endif  // SERVE_READER_CACHE_H_
