// bench_store: writes a deterministic benchmark store (see store_gen.h).
//
//   bench_store [--shuffle-doc] DIR [DOCUMENTS [LINES [CLIENTS [ARTICLES [SEED]]]]]
//
// Defaults: 200000 documents, 5 lines, 50000 clients, 50000 articles, seed 3.
// --shuffle-doc writes the DOC records in a random order (store_gen.h).
// Prints the statistics of what it wrote.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store_gen.h"

namespace {

bool ParseNumber(const char* text, int64_t* value) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  *value = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  StoreParams params;
  if (argc >= 2 && std::strcmp(argv[1], "--shuffle-doc") == 0) {
    params.shuffle_doc = true;
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 7 || argv[1][0] == '-') {
    std::fputs("usage: bench_store [--shuffle-doc] DIR [DOCUMENTS [LINES [CLIENTS [ARTICLES [SEED]]]]]\n"
               "defaults: 200000 documents, 5 lines, 50000 clients, 50000 articles, seed 3\n"
               "--shuffle-doc: the DOC records in a random order, the pointers rewritten to match\n",
               stderr);
    return 2;
  }
  int64_t values[5] = {params.documents, params.lines, params.clients, params.articles,
                       static_cast<int64_t>(params.seed)};
  for (int i = 2; i < argc; ++i) {
    if (!ParseNumber(argv[i], &values[i - 2]) || values[i - 2] < 0) {
      std::fprintf(stderr, "bench_store: '%s' is not a number\n", argv[i]);
      return 2;
    }
  }
  params.documents = values[0];
  params.lines = values[1] > 99 ? 100 : static_cast<int>(values[1]);
  params.clients = values[2];
  params.articles = values[3];
  params.seed = static_cast<uint64_t>(values[4]);

  StoreStats stats;
  std::string error;
  if (!WriteStore(params, argv[1], &stats, &error)) {
    std::fprintf(stderr, "bench_store: %s\n", error.c_str());
    return 1;
  }
  std::fputs(FormatStats(params, stats).c_str(), stdout);
  return 0;
}
