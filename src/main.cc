// query: prints the fields of the records of a document store that match.
//
//   query <form> <query argument>...
//
// `main` only parses the command line and turns the engine's status into
// output and an exit status.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "query.h"

namespace {

constexpr char kUsage[] = "usage: query <form> <query argument>...\n";
constexpr char kVersion[] = "query 1.0\n";

void PrintHelp() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "\nRuns in the directory that holds the store (INFO, HEAD, DOC, H).\n"
      "Each query argument is: a section letter (h header, d detail), a two-digit\n"
      "field number, the character printed after the field, and an optional\n"
      "search text that the field must contain (any case). Examples:\n"
      "  query fac 'h00;' 'h01;' 'd02;tornillo'\n"
      "  query fac 'h00;*' 'h04;'      (every record, no condition)\n",
      stdout);
}

int Fail(const Status& s) {
  if (!s.stdout_text().empty()) {
    std::fwrite(s.stdout_text().data(), 1, s.stdout_text().size(), stdout);
    std::fflush(stdout);
  }
  if (!s.message().empty()) std::fprintf(stderr, "query: %s\n", s.message().c_str());
  if (s.pause_seconds() > 0) sleep(static_cast<unsigned>(s.pause_seconds()));
  return s.exit_status();
}

int RunQuery(const std::string& form, const std::vector<std::string>& arguments) {
  Query query;
  Status s = query.Start(form, arguments);
  for (const std::string& w : query.warnings()) std::fprintf(stderr, "query: %s\n", w.c_str());
  if (!s.ok()) return Fail(s);
  Output out(STDOUT_FILENO);
  s = query.Run(&out);
  out.Flush();
  if (!s.ok()) return Fail(s);
  if (out.write_error() != 0) {
    std::fprintf(stderr, "query: cannot write the output: %s\n", std::strerror(out.write_error()));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    PrintHelp();
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::fputs(kVersion, stdout);
    return 0;
  }
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::vector<std::string> arguments(argv + 2, argv + argc);
  try {
    return RunQuery(argv[1], arguments);
  } catch (const std::bad_alloc&) {
    std::fputs("query: out of memory\n", stderr);
    return 1;
  }
}
