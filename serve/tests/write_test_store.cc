// write_test_store EXAMPLES_DIR DIR: the store of test_store.h, for the
// browser tests.
#include <cstdio>
#include <string>

#include "test_store.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: write_test_store EXAMPLES_DIR DIR\n", stderr);
    return 2;
  }
  std::string error;
  if (!WriteHostileStore(argv[1], argv[2], &error)) {
    std::fprintf(stderr, "write_test_store: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
