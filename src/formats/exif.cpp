#include "formats/exif.h"

#include <cstring>

namespace velmora {

int ExifOrientation(const uint8_t* data, size_t size) {
  if (!data) return 1;
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) data += 6, size -= 6;
  if (size < 8) return 1;
  const bool little = data[0] == 'I' && data[1] == 'I';
  if (!little && !(data[0] == 'M' && data[1] == 'M')) return 1;
  auto u16 = [&](size_t at) -> uint32_t {
    return little ? data[at] | (data[at + 1] << 8) : (data[at] << 8) | data[at + 1];
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
  };
  if (u16(2) != 42) return 1;
  const uint32_t ifd = u32(4);
  if (ifd > size - 2 || ifd < 8) return 1;
  const uint32_t count = u16(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t entry = ifd + 2 + size_t{i} * 12;
    if (entry + 12 > size) return 1;
    if (u16(entry) == 0x0112) {
      // A SHORT sits left-justified in the value field; some writers use LONG.
      const uint32_t type = u16(entry + 2);
      const uint32_t value = type == 3 ? u16(entry + 8) : type == 4 ? u32(entry + 8) : 0;
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

}  // namespace velmora
