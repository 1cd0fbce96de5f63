// Helpers shared by the fuzz targets: checks that abort, splitting an input
// into sections, and a scratch directory of the process's own.
#ifndef QUERY_FUZZ_FUZZ_UTIL_H_
#define QUERY_FUZZ_FUZZ_UTIL_H_

#include <string>
#include <string_view>
#include <vector>

// A broken promise: reports `what` on stderr and aborts, so that both
// libFuzzer and the test run see a crash.
void Check(bool ok, const char* what);

// Splits `data` at every line that holds only "%%"; always at least one section.
std::vector<std::string_view> Sections(std::string_view data);

// Splits `text` at every `separator`; always at least one piece.
std::vector<std::string_view> Split(std::string_view text, char separator);

// The process's scratch directory, made on first use and removed at exit.
const std::string& ScratchRoot();

// Works in the directory `name` under the scratch directory for the life of
// the object, then returns to the directory it came from.
class InScratch {
 public:
  explicit InScratch(const char* name);
  ~InScratch();
  InScratch(const InScratch&) = delete;
  InScratch& operator=(const InScratch&) = delete;

 private:
  int previous_;
};

// Writes `bytes` to the file `name`, replacing it.
void WriteFile(const std::string& name, std::string_view bytes);

// A descriptor of /dev/null open for writing.
int DevNull();

// Sends standard output (descriptor 1 and the stdout stream) to /dev/null for
// the life of the object, so that a target writing to the terminal does not
// bury the test run's own output.
class StdoutToNull {
 public:
  StdoutToNull();
  ~StdoutToNull();
  StdoutToNull(const StdoutToNull&) = delete;
  StdoutToNull& operator=(const StdoutToNull&) = delete;

 private:
  int saved_;
};

#endif  // QUERY_FUZZ_FUZZ_UTIL_H_
