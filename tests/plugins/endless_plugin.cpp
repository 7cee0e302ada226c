// A test import plug-in whose GetPluginInfo answers every number, with a
// text that fills the whole buffer and leaves no terminator: the host must
// stop asking and read no further than the buffer.
#include <cstdint>
#include <cstring>

#include "formats/susie/susie_plugin.h"

extern "C" {

int32_t GetPluginInfo(int32_t number, char* buffer, int32_t length) {
  if (number == 0) {
    std::strcpy(buffer, "00IN");
    return 4;
  }
  std::memset(buffer, number % 2 ? 'd' : 'e', static_cast<size_t>(length));
  if (number % 2 == 0) std::memcpy(buffer, "*.", 2);
  return length;
}

int32_t IsSupported(const char*, const void*) { return 0; }
int32_t GetPictureInfo(const char*, intptr_t, uint32_t, SusiePictureInfo*) { return SUSIE_UNSUPPORTED; }
int32_t GetPicture(const char*, intptr_t, uint32_t, void**, void**, SusieProgressCallback, intptr_t) {
  return SUSIE_UNSUPPORTED;
}

}  // extern "C"
