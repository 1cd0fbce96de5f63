// One document of a served form: found by its key or number, read whole,
// and written as JSON for the API.
#ifndef SERVE_DOCUMENT_H_
#define SERVE_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine.h"
#include "form_registry.h"
#include "status.h"
#include "text_encoding.h"

// The record whose header field 0 holds `key` (store bytes, blank-padded
// to the field's length): first through H, as the query's key shortcut;
// then among the records the store gained since the form was loaded (at
// most kMaxGrowthSearched of them), by reading them. -1 when none.
// `*read` tells whether the reader's values now hold the record found.
constexpr int64_t kMaxGrowthSearched = 10000;
int64_t FindDocument(const ServedForm& form, RecordReader* reader, std::string_view key, bool* read);

// Reads record n into the reader's values, every field computed. False
// when the reader's store has no such record.
bool ReadDocument(RecordReader* reader, int64_t n, RecordReader::Outcome* outcome, Status* status);

// Header field 0 of the record in `values`, cut to its length, without
// trailing blanks: the key a document's address uses.
std::string DocumentKey(const Form& form, const RecordValues& values);

// The path of document n whose values `reader` holds: /FORM/doc/KEY when
// that key finds it, else /FORM/record/N.
std::string DocumentPath(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter);

// The document the reader holds as one JSON object:
//   {"form": "fac", "record": 3, "key": "000104",
//    "header": {"h00": "...", ...},
//    "lines": [{"line": 0, "fields": {"d00": "...", ...}}, ...]}
// every value the field's text in UTF-8 as the query prints it; only
// present lines are listed.
std::string DocumentJson(const ServedForm& form, const RecordReader& reader, int64_t n,
                         const Utf8Converter& converter);

// "h03", "d12": a field's id.
std::string FieldId(char letter, int field);

#endif  // SERVE_DOCUMENT_H_
