// The query engine's fuzz targets, as plain functions.
//
// Each function takes one input of arbitrary bytes, feeds it to one input
// surface of the engine, and checks what the engine promises about it. A
// broken promise calls FuzzCheckFailed, which aborts, so both libFuzzer (the
// *_fuzzer.cc mains) and the ordinary test run (tests/fuzz_replay_test.cc,
// which replays the seed corpora and every kept fuzz find) see it as a crash.
// The functions never sleep, never read standard input and write only to
// /dev/null and to a scratch directory of their own.
#ifndef QUERY_FUZZ_ENGINE_TARGETS_H_
#define QUERY_FUZZ_ENGINE_TARGETS_H_

#include <string_view>

// A form definition file: ParseFormDefinition, then what a loaded form must
// hold (definition counts, record lengths, table descriptors).
void FuzzFormDefinition(std::string_view data);

// A formula file and the field values it reads. Sections (split on a line
// "%%"): the formula file, then the text of header fields 0, 1, ... of a
// fixed form, then "%%" and the fields of detail line 0, and so on. Also
// checks that the evaluator gives the same result however its text is cut
// into pieces.
void FuzzFormulas(std::string_view data);

// A whole query run on a store whose files come from the input. Sections:
// control (first byte picks one of the fixed forms; the rest, split on tabs,
// are the query arguments, or a default set when empty), INFO, HEAD, DOC, H,
// and the lookup-table files of the form. A missing section means a missing
// file, except INFO, which is always written.
void FuzzStoreQuery(std::string_view data);

// Query arguments, separated by NUL bytes, on the fixed example store; a
// first argument "@name" names the form file instead (names holding '/'
// are refused, so the form stays inside the scratch store).
void FuzzQueryArguments(std::string_view data);

#endif  // QUERY_FUZZ_ENGINE_TARGETS_H_
