// query: prints the fields of the records of a document store that match.
//
//   query <form> <query argument>...
//
// `main` only parses the command line and turns the engine's status into
// output and an exit status.
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "escape.h"
#include "formatted_query.h"
#include "file_io.h"
#include "parallel_run.h"
#include "query.h"
#include "store_check.h"

namespace {

constexpr char kUsage[] = "usage: query [--threads N] <form> <query argument>...\n";
constexpr char kVersion[] = "query 1.0\n";

void PrintHelp() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\nRuns in the directory that holds the store (INFO, HEAD, DOC, H).\n"
      "Each query argument is: a section letter (h header, d detail), a two-digit\n"
      "field number, the character printed after the field, and an optional\n"
      "search text that the field must contain (any case). Examples:\n"
      "  query fac 'h00;' 'h01;' 'd02;tornillo'\n"
      "  query fac 'h00;*' 'h04;'      (every record, no condition)\n"
      "\nA large store is walked by one thread per processor; --threads N, or the\n"
      "environment variable QUERY_THREADS, sets the count (1 walks it alone).\n"
      "\nquery [--threads N] --format=json|csv <form> <query argument>...\n"
      "--format=json prints each line as a JSON object of the fields by id (h00,\n"
      "d01, ...); --format=csv as CSV with a header row; both in UTF-8 from the\n"
      "store's code page 437.\n"
      "\nquery --check <form> reports what does not hold in the store; exit 0 when all does.\n",
      stdout);
}

// Every message goes to stderr as one line; any byte that could end the line
// or act on a terminal is shown escaped, whichever module's text it carries.
void PrintMessage(const std::string& message) {
  std::fprintf(stderr, "query: %s\n", EscapeControlBytes(message).c_str());
}

int Fail(const Status& s) {
  if (!s.stdout_text().empty()) {
    std::fwrite(s.stdout_text().data(), 1, s.stdout_text().size(), stdout);
    std::fflush(stdout);
  }
  if (!s.message().empty()) PrintMessage(s.message());
  if (s.pause_seconds() > 0) sleep(static_cast<unsigned>(s.pause_seconds()));
  return s.exit_status();
}

// Reads a thread count from `text`: a whole number from 1 to kMaxThreads.
constexpr int kMaxThreads = 256;
bool ParseThreadCount(const char* text, int* threads) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || n < 1 || n > kMaxThreads) return false;
  *threads = static_cast<int>(n);
  return true;
}

// The rows as JSON Lines or CSV, from one reader.
int RunFormatted(const std::string& form, const std::vector<std::string>& arguments, RowFormat format) {
  std::vector<std::string> warnings;
  const Status s = RunFormattedQuery(form, arguments, format, TextEncoding::kCp437, STDOUT_FILENO, &warnings);
  for (const std::string& w : warnings) PrintMessage(w);
  return s.ok() ? 0 : Fail(s);
}

int RunQuery(const std::string& form, const std::vector<std::string>& arguments, int threads) {
  Query query;
  Status s = query.Start(form, arguments);
  for (const std::string& w : query.warnings()) PrintMessage(w);
  if (!s.ok()) return Fail(s);
  std::vector<std::string> warnings;
  Output out(STDOUT_FILENO);
  const RecordRange range{query.first_record(), query.end_record()};
  threads = ThreadsFor(query.engine(), range, threads);
  if (threads > 1) {
    s = RunParallel(query.engine(), query.selection(), range, threads, &out, &warnings);
  } else {
    const size_t started_warnings = query.warnings().size();
    s = query.Run(&out);
    warnings.assign(query.warnings().begin() + static_cast<std::ptrdiff_t>(started_warnings), query.warnings().end());
  }
  out.Flush();
  for (const std::string& w : warnings) PrintMessage(w);
  if (!s.ok()) return Fail(s);
  if (out.write_error() != 0) {
    std::fprintf(stderr, "query: cannot write the output: %s\n", std::strerror(out.write_error()));
    return 1;
  }
  return 0;
}

// query --check FORM: reports what does not hold in the store; 0 when all holds.
int RunCheck(const std::string& form) {
  CheckReport report;
  Status s = CheckStoreCommand(form, &report);
  if (!s.ok()) return Fail(s);
  for (const std::string& p : report.problems) std::printf("%s\n", EscapeControlBytes(p).c_str());
  if (report.problems.empty())
    std::printf("the store holds: %lld documents, %lld detail lines\n", static_cast<long long>(report.documents),
                static_cast<long long>(report.lines));
  return report.problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--check") == 0) {
    if (argc != 3) {
      std::fputs("usage: query --check <form>\n", stderr);
      return 2;
    }
    return RunCheck(argv[2]);
  }
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintHelp();
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(kVersion, stdout);
    return 0;
  }
  // The thread count: --threads N before the form, else QUERY_THREADS, else
  // one per processor.
  int threads = AvailableProcessors();
  int first = 1;
  if (const char* from_environment = std::getenv("QUERY_THREADS");
      from_environment != nullptr && *from_environment != '\0' && !ParseThreadCount(from_environment, &threads)) {
    std::fprintf(stderr, "query: QUERY_THREADS must be a whole number from 1 to %d, not '%s'\n", kMaxThreads,
                 EscapeControlBytes(from_environment).c_str());
    return 2;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--threads") == 0) {
    if (argc < 3 || !ParseThreadCount(argv[2], &threads)) {
      std::fprintf(stderr, "query: --threads needs a whole number from 1 to %d%s%s%s\n", kMaxThreads,
                   argc < 3 ? "" : ", not '", argc < 3 ? "" : EscapeControlBytes(argv[2]).c_str(),
                   argc < 3 ? "" : "'");
      return 2;
    }
    first = 3;
  }
  // The output format: --format=F after --threads N, if any, before the form.
  RowFormat format = RowFormat::kText;
  if (argc > first && std::strncmp(argv[first], "--format=", 9) == 0) {
    if (!ParseRowFormat(argv[first] + 9, &format)) {
      std::fprintf(stderr, "query: --format must be text, json or csv, not '%s'\n",
                   EscapeControlBytes(argv[first] + 9).c_str());
      return 2;
    }
    ++first;
  }
  if (argc < first + 1) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // A large header index is searched through a mapping, which needs the
  // bus-error handler that only a program may install; where that fails,
  // the search reads the file instead.
  EnableMappedReads();
  // Memory that cannot be had, or a size no container can hold, ends the
  // query with a message and status 1, never an abort; so does any other
  // failure that reaches here as an exception. Output already buffered is
  // written as the query unwinds.
  try {
    std::vector<std::string> arguments(argv + first + 1, argv + argc);
    if (format != RowFormat::kText) return RunFormatted(argv[first], arguments, format);
    return RunQuery(argv[first], arguments, threads);
  } catch (const std::bad_alloc&) {
    std::fputs("query: out of memory\n", stderr);
  } catch (const std::length_error&) {
    std::fputs("query: out of memory: a size beyond what can be allocated was asked for\n", stderr);
  } catch (const std::exception& e) {
    PrintMessage(std::string("stopped by an unexpected failure: ") + e.what());
  } catch (...) {
    std::fputs("query: stopped by an unexpected failure\n", stderr);
  }
  return 1;
}
