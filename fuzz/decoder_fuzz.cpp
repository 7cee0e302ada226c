// One libFuzzer target per decoder: VELMORA_FUZZ_EXTENSION picks the class
// registered for that extension. Any input must load or raise, never crash.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "formats/loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const velmora::Loader loader;
  static const velmora::GraphicClass* cls = loader.Registry().FindExtension(VELMORA_FUZZ_EXTENSION);
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    auto graphic = cls->create();
    graphic->LoadFromStream(in);
    velmora::Bitmap bitmap;
    graphic->AssignTo(bitmap);
  } catch (const std::exception&) {
    // Refusing bad input is the expected outcome.
  }
  return 0;
}
