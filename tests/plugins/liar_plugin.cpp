// A test import plug-in that lies about what it returns. Its files are "LIE"
// and a mode letter:
//   a  the pixel block is smaller than the header says
//   b  an 8-bit picture claims 100000 colours
//   c  a negative width
//   d  the information block is 20 bytes
//   e  1 073 741 824 x 1 pixels in a 16-byte pixel block
//   f  no blocks at all
//   g  a bit count of 7
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

#include "formats/susie/susie_plugin.h"
#include "test_log.h"

namespace {
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
}  // namespace

extern "C" {

int32_t GetPluginInfo(int32_t number, char* buffer, int32_t length) {
  const char* texts[] = {"00IN", "lying test plug-in", "*.lie", "Lies"};
  if (number < 0 || number > 3 || length < 32) return 0;
  std::strcpy(buffer, texts[number]);
  return static_cast<int32_t>(std::strlen(buffer));
}

int32_t IsSupported(const char*, const void* data) { return std::memcmp(data, "LIE", 3) == 0; }

int32_t GetPictureInfo(const char*, intptr_t, uint32_t, SusiePictureInfo* info) {
  std::memset(info, 0, sizeof *info);
  return SUSIE_SUCCESS;
}

int32_t GetPicture(const char* data, intptr_t, uint32_t, void** info_block, void** bits_block, SusieProgressCallback,
                   intptr_t) {
  const char mode = data[3];
  auto* info = static_cast<unsigned char*>(std::calloc(1, mode == 'd' ? 20 : 40));
  auto* bits = static_cast<unsigned char*>(std::calloc(1, 16));
  if (mode == 'f') {
    std::free(info);
    std::free(bits);
    *info_block = nullptr;
    *bits_block = nullptr;
    return SUSIE_SUCCESS;
  }
  if (mode != 'd') {
    Put32(info, 40);
    Put32(info + 4, mode == 'c' ? static_cast<uint32_t>(-5) : mode == 'e' ? 1u << 30 : 64);
    Put32(info + 8, mode == 'e' ? 1 : 64);
    info[12] = 1;
    info[14] = mode == 'b' ? 8 : mode == 'g' ? 7 : 24;
    if (mode == 'b') Put32(info + 32, 100000);
  }
  // The allocator may hand back more than was asked for, and the host can
  // only see what it handed back: say so, so the test knows which lie the
  // host was able to catch.
  if (mode == 'd') LogCall("liar info usable=%zu", malloc_usable_size(info));
  *info_block = info;
  *bits_block = bits;
  return SUSIE_SUCCESS;
}

}  // extern "C"
