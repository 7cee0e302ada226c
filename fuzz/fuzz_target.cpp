// A libFuzzer target; VELMORA_FUZZ_TARGET names which (see fuzz_entry.h).
#include "fuzz_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmora::fuzz::FuzzOne(VELMORA_FUZZ_TARGET, data, size);
  return 0;
}
