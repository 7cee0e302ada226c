#include "image/bmp_core.h"

#include <algorithm>

namespace velmora::bmp {

FileHeader ParseFileHeader(const uint8_t* p) { return FileHeader{GetLe16(p), GetLe32(p + 2), GetLe32(p + 10)}; }

InfoHeader ParseInfoHeader(const uint8_t* p, uint32_t size) {
  InfoHeader h;
  h.size = size;
  if (size == 12) {
    h.width = GetLe16(p + 4);
    h.height = static_cast<int16_t>(GetLe16(p + 6));
    h.planes = GetLe16(p + 8);
    h.bits = GetLe16(p + 10);
    return h;
  }
  h.width = static_cast<int32_t>(GetLe32(p + 4));
  h.height = static_cast<int32_t>(GetLe32(p + 8));
  h.planes = GetLe16(p + 12);
  h.bits = GetLe16(p + 14);
  if (size >= 20) h.compression = GetLe32(p + 16);
  if (size >= 24) h.size_image = GetLe32(p + 20);
  if (size >= 32) {
    h.x_pels_per_meter = static_cast<int32_t>(GetLe32(p + 24));
    h.y_pels_per_meter = static_cast<int32_t>(GetLe32(p + 28));
  }
  if (size >= 36) h.clr_used = GetLe32(p + 32);
  if (size >= 40) h.clr_important = GetLe32(p + 36);
  if (size >= 52) {
    h.masks_in_header = size >= 56 ? 4 : 3;
    for (int c = 0; c < h.masks_in_header; ++c) h.masks[c] = GetLe32(p + 40 + 4 * c);
  }
  return h;
}

bool RlePlausible(int64_t width, int64_t height, size_t size) {
  constexpr int64_t kPixelsPerByte = 4096;
  constexpr int64_t kAlwaysPlausible = 1 << 16;
  if (width <= 0 || height <= 0) return false;
  const int64_t allowed = kAlwaysPlausible + kPixelsPerByte * static_cast<int64_t>(size);
  return width <= allowed / height;
}

void DefaultMasks(int bits, uint32_t masks[3]) {
  if (bits == 16) {
    masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  } else {
    masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
  }
}

ChannelScaler::ChannelScaler(uint32_t mask, ChannelScaling scaling) : mask_(mask), scaling_(scaling) {
  if (mask == 0) return;
  if (scaling == ChannelScaling::kTruncate) {
    // Aligned so that the mask spans exactly 8 bits (128..255).
    uint64_t v = mask;
    int s = 0;
    while (v >= 256) v >>= 1, ++s;
    while (v < 128) v <<= 1, --s;
    shift_ = s;
    maximum_ = v;
  } else {
    while (!((mask >> shift_) & 1)) ++shift_;
    maximum_ = mask >> shift_;
  }
}

uint8_t ChannelScaler::Of(uint32_t pixel) const {
  if (maximum_ == 0) return 0;
  uint64_t v = pixel & mask_;
  if (scaling_ == ChannelScaling::kTruncate) {
    v = shift_ >= 0 ? v >> shift_ : v << -shift_;
    return static_cast<uint8_t>(std::min<uint64_t>(v * 255 / maximum_, 255));
  }
  v >>= shift_;
  return static_cast<uint8_t>((v * 255 + maximum_ / 2) / maximum_);
}

}  // namespace velmora::bmp
