// Helpers for the store writer's tests and its test program: reference
// stores of the generator's form `fac`, random documents and changes, and a
// document's values as one comparable line.
#ifndef QUERY_TESTS_WRITER_TEST_SUPPORT_H_
#define QUERY_TESTS_WRITER_TEST_SUPPORT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "form.h"
#include "store_writer.h"

// splitmix64, the same sequence everywhere.
class TestRandom {
 public:
  explicit TestRandom(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  int64_t Between(int64_t lo, int64_t hi) { return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1)); }

 private:
  uint64_t state_;
};

// Writes the generator's store of `documents` documents with `lines` lines
// into `dir`. Aborts the test program when it cannot.
void WriteReferenceStore(const std::string& dir, int64_t documents, int lines);
// Copies every regular file of `from` into `to` (created if missing).
void CopyStore(const std::string& from, const std::string& to);
// Loads `dir`/fac.
Form LoadFac(const std::string& dir);

// The kinds of change the crash tests make, one each.
enum class ChangeKind { kAdd, kField, kAddLine, kChangeLine, kDeleteLine, kKey };
constexpr ChangeKind kAllChanges[] = {ChangeKind::kAdd, ChangeKind::kField, ChangeKind::kAddLine,
                                      ChangeKind::kChangeLine, ChangeKind::kDeleteLine, ChangeKind::kKey};
const char* ChangeName(ChangeKind kind);
// Test names show the kind by its name (not as raw bytes).
inline void PrintTo(ChangeKind kind, std::ostream* os) { *os << ChangeName(kind); }

// A new document of form `fac` with key `key` and 1 to `lines` lines.
DocumentValues RandomDocument(TestRandom* rnd, const std::string& key, int lines);
// `doc` after a change of `kind` (never kAdd). `unique` makes a new key
// unique. False when the document has nothing the change could act on.
bool ChangeDocument(TestRandom* rnd, ChangeKind kind, int64_t unique, DocumentValues* doc);

// The stored values of a document as one line: equal lines, equal documents.
std::string Describe(const Form& form, const DocumentValues& doc);
// Every document of the store in `dir`, described; the store's journal, if
// any, is rolled back first.
std::vector<std::string> DescribeStore(const Form& form, const std::string& dir);

#endif  // QUERY_TESTS_WRITER_TEST_SUPPORT_H_
