#include "formats/rgba_rows.h"

#include <algorithm>

#include "formats/png/png_encoder.h"
#include "image/dib_image.h"

namespace velmora {

size_t TransparentIndex(const std::vector<RgbQuad>& palette, ColorValue c) {
  if (palette.empty()) return palette.size();
  const size_t index = (c & kPaletteIndexFlag) ? static_cast<size_t>(c & 0xFF)
                                               : static_cast<size_t>(NearestIndex(palette.data(), palette.size(),
                                                                                  ColorRed(c), ColorGreen(c), ColorBlue(c),
                                                                                  ColorDistance::kSumOfDifferences));
  return index < palette.size() ? index : palette.size();
}

RgbaRows::RgbaRows(const DibImage& image, const EncodeOptions& options)
    : rows_(options.extras.alpha ? options.extras.alpha->straight : image), kept_(options.extras.alpha.get()) {
  const DibImage& colours = kept_ ? kept_->straight : image;
  const ColorValue key = !options.transparent ? kNoColor
                         : options.picker     ? options.picked_color
                                              : colours.GetPixel(0, 0);
  if (rows_.Bits() > 8) {
    key_ = key;
    channels_ = key == kNoColor && !kept_ ? 3 : 4;
    return;
  }
  const std::vector<RgbQuad>& palette = rows_.Palette();
  const size_t key_index = key == kNoColor ? palette.size() : TransparentIndex(palette, key);
  channels_ = key_index < palette.size() || kept_ ? 4 : 3;
  // An index beyond the palette is black, as the picture model reads it.
  for (size_t i = 0; i < 256; ++i) {
    if (i < palette.size()) {
      lookup_[i * 4] = palette[i].red;
      lookup_[i * 4 + 1] = palette[i].green;
      lookup_[i * 4 + 2] = palette[i].blue;
    }
    lookup_[i * 4 + 3] = i == key_index ? 0 : 255;
  }
}

void RgbaRows::Row(int y, uint8_t* d) const {
  Colours(y, d);
  if (!kept_) return;
  // The kept alpha, and the transparent colour's pixels clear as well.
  const uint8_t* a = kept_->alpha.data() + static_cast<size_t>(y) * static_cast<size_t>(Width());
  for (int x = 0; x < Width(); ++x) d[x * 4 + 3] = std::min(d[x * 4 + 3], a[x]);
}

void RgbaRows::Colours(int y, uint8_t* d) const {
  const uint8_t* s = rows_.Row(y);
  const int n = channels_, width = Width();
  switch (rows_.Bits()) {
    case 24:
      for (int x = 0; x < width; ++x, s += 3, d += n) {
        d[0] = s[2], d[1] = s[1], d[2] = s[0];
        if (n == 4) d[3] = key_ != kNoColor && MakeColor(s[2], s[1], s[0]) == (key_ & 0xFFFFFF) ? 0 : 255;
      }
      return;
    case 8:
      for (int x = 0; x < width; ++x, d += n) std::copy_n(&lookup_[size_t{s[x]} * 4], n, d);
      return;
    case 4:
      for (int x = 0; x < width; ++x, d += n)
        std::copy_n(&lookup_[size_t((x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4)) * 4], n, d);
      return;
    default:
      for (int x = 0; x < width; ++x, d += n) std::copy_n(&lookup_[size_t((s[x >> 3] >> (7 - (x & 7))) & 1) * 4], n, d);
      return;
  }
}

std::vector<uint8_t> RgbaRows::Whole() const {
  std::vector<uint8_t> pixels(Stride() * static_cast<size_t>(Height()));
  for (int y = 0; y < Height(); ++y) Row(y, pixels.data() + Stride() * static_cast<size_t>(y));
  return pixels;
}

}  // namespace velmora
