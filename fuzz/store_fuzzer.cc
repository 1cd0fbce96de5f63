// libFuzzer entry: a whole query on a store whose files it supplies.
#include <cstddef>
#include <cstdint>

#include "engine_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStoreQuery({reinterpret_cast<const char*>(data), size});
  return 0;
}
