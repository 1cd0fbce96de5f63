// libFuzzer entry: the form definition file.
#include <cstddef>
#include <cstdint>

#include "engine_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFormDefinition({reinterpret_cast<const char*>(data), size});
  return 0;
}
