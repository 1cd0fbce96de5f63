// libFuzzer entry: the field editor input.
#include <cstddef>
#include <cstdint>

#include "tcp_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzFieldEditor({reinterpret_cast<const char*>(data), size});
  return 0;
}
