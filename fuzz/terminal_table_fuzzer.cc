// libFuzzer entry: the terminal table file and the user file name.
#include <cstddef>
#include <cstdint>

#include "tcp_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzTerminalTable({reinterpret_cast<const char*>(data), size});
  return 0;
}
