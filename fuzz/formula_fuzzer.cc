// libFuzzer entry: the formula file and the evaluator.
#include <cstddef>
#include <cstdint>

#include "engine_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFormulas({reinterpret_cast<const char*>(data), size});
  return 0;
}
