// libFuzzer entry: the number display format punto.
#include <cstddef>
#include <cstdint>

#include "tcp_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzPunto({reinterpret_cast<const char*>(data), size});
  return 0;
}
