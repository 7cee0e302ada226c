// A test import plug-in for "VELP", a picture format made up for the tests:
//   "VELP", width (u16 LE), height (u16 LE), bits (4, 8 or 24),
//   for 4 and 8 bits: colour count (u16 LE) and that many RGB triples,
//   then the pixels top row first: one byte per pixel (an index, or the
//   red, green and blue bytes of a 24-bit pixel).
// It hands 4 and 8-bit pictures back top-down with their colour table and
// 24-bit ones bottom-up, and reports progress once per row. PLUGIN_TAG,
// PLUGIN_PATTERNS and PLUGIN_DESCRIPTION make its variants.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "formats/susie/susie_plugin.h"
#include "test_log.h"

#ifndef PLUGIN_TAG
#define PLUGIN_TAG "velp"
#endif
#ifndef PLUGIN_PATTERNS
#define PLUGIN_PATTERNS "*.pi;*.pic;*.mag"
#endif
#ifndef PLUGIN_DESCRIPTION
#define PLUGIN_DESCRIPTION "VELP test pictures"
#endif

namespace {

int32_t Copy(const char* text, char* buffer, int32_t length) {
  const int32_t n = static_cast<int32_t>(std::strlen(text));
  if (n > length) return 0;
  std::memcpy(buffer, text, static_cast<size_t>(n) + 1);
  return n;
}

unsigned U16(const unsigned char* p) { return p[0] | (p[1] << 8); }
void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

extern "C" {

int32_t GetPluginInfo(int32_t number, char* buffer, int32_t length) {
  LogCall("%s info %d", PLUGIN_TAG, number);
  switch (number) {
    case 0: return Copy("00IN", buffer, length);
    case 1: return Copy("VELP test plug-in " PLUGIN_TAG, buffer, length);
    case 2: return Copy(PLUGIN_PATTERNS, buffer, length);
    case 3: return Copy(PLUGIN_DESCRIPTION, buffer, length);
    default: return 0;
  }
}

int32_t IsSupported(const char* file_name, const void* data) {
  LogCall("%s IsSupported %s", PLUGIN_TAG, file_name);
  return std::memcmp(data, "VELP", 4) == 0;
}

int32_t GetPictureInfo(const char* data, intptr_t length, uint32_t, SusiePictureInfo* info) {
  if (length < 9) return SUSIE_BROKEN_DATA;
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  std::memset(info, 0, sizeof *info);
  info->width = static_cast<int32_t>(U16(p + 4));
  info->height = static_cast<int32_t>(U16(p + 6));
  info->colour_depth = p[8];
  info->text = static_cast<char*>(std::malloc(16));
  std::strcpy(info->text, "made for tests");
  return SUSIE_SUCCESS;
}

int32_t GetPicture(const char* data, intptr_t length, uint32_t, void** info_block, void** bits_block,
                   SusieProgressCallback progress, intptr_t context) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  // Whether the host padded a short file with zeros up to 2048 bytes.
  bool padded = true;
  if (length < 2048)
    for (intptr_t i = length; i < 2048; ++i) padded = padded && p[i] == 0;
  LogCall("%s GetPicture length=%ld padded=%d", PLUGIN_TAG, static_cast<long>(length), padded ? 1 : 0);
  if (length < 9) return SUSIE_BROKEN_DATA;
  const int width = static_cast<int>(U16(p + 4)), height = static_cast<int>(U16(p + 6)), bits = p[8];
  if (bits != 4 && bits != 8 && bits != 24) return SUSIE_UNSUPPORTED;
  intptr_t at = 9;
  int colours = 0;
  if (bits != 24) {
    colours = static_cast<int>(U16(p + at));
    at += 2 + 3 * colours;
  }
  const intptr_t pixel_bytes = bits == 24 ? 3 : 1;
  if (at + pixel_bytes * width * height > length) return SUSIE_BROKEN_DATA;
  const size_t row = ((static_cast<size_t>(bits) * width + 31) / 32) * 4;
  auto* info = static_cast<unsigned char*>(std::calloc(1, 40 + 4 * static_cast<size_t>(colours)));
  auto* out = static_cast<unsigned char*>(std::calloc(row * height, 1));
  if (!info || !out) {
    std::free(info);
    std::free(out);
    return SUSIE_OUT_OF_MEMORY;
  }
  Put32(info, 40);
  Put32(info + 4, static_cast<uint32_t>(width));
  Put32(info + 8, static_cast<uint32_t>(bits == 24 ? height : -height));
  info[12] = 1;
  info[14] = static_cast<unsigned char>(bits);
  Put32(info + 32, static_cast<uint32_t>(colours));
  for (int i = 0; i < colours; ++i) {
    const unsigned char* rgb = p + 11 + 3 * i;
    info[40 + 4 * i] = rgb[2], info[41 + 4 * i] = rgb[1], info[42 + 4 * i] = rgb[0];
  }
  for (int y = 0; y < height; ++y) {
    if (progress && progress(y, height, context) != 0) {
      LogCall("%s cancelled at row %d", PLUGIN_TAG, y);
      std::free(info);
      std::free(out);
      return SUSIE_CANCELLED;
    }
    unsigned char* d = out + row * (bits == 24 ? height - 1 - y : y);
    const unsigned char* s = p + at + pixel_bytes * width * y;
    for (int x = 0; x < width; ++x) {
      if (bits == 24) {
        d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
      } else if (bits == 8) {
        d[x] = s[x];
      } else {
        d[x / 2] |= static_cast<unsigned char>((s[x] & 15) << ((x & 1) ? 0 : 4));
      }
    }
  }
  *info_block = info;
  *bits_block = out;
  return SUSIE_SUCCESS;
}

}  // extern "C"
