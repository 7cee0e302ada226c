// The prepared picture as the newer codecs (WebP, AVIF, JPEG XL) take it:
// 8-bit RGB, or RGBA when a colour is transparent, top row first. An indexed
// picture becomes the full-colour pixels of its palette, so the colour-depth
// choice reaches these formats as it reaches PNG.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/output_format.h"
#include "image/color.h"
#include "image/image_rows.h"

namespace velmora {

class DibImage;

// The palette entry the transparent colour names in an indexed picture, as
// PNG's tRNS marks it: the entry itself when the colour carries an index,
// else the nearest entry. palette.size() when there is none to mark.
size_t TransparentIndex(const std::vector<RgbQuad>& palette, ColorValue color);

// options.transparent makes the colour transparent: the picked one, or the
// top-left pixel's. In an indexed picture every pixel of that entry; in a
// full-colour one every pixel of exactly that colour. A kept alpha
// (options.extras.alpha) gives the straight colours and their alpha
// instead of the picture over white.
class RgbaRows {
 public:
  RgbaRows(const DibImage& image, const EncodeOptions& options);

  int Width() const { return rows_.Width(); }
  int Height() const { return rows_.Height(); }
  int Channels() const { return channels_; }  // 3, or 4 with a transparent colour or a kept alpha
  size_t Stride() const { return static_cast<size_t>(Width()) * static_cast<size_t>(channels_); }
  // Row y into out, Stride() bytes.
  void Row(int y, uint8_t* out) const;
  // Every row, one after the other.
  std::vector<uint8_t> Whole() const;

 private:
  void Colours(int y, uint8_t* out) const;
  ImageRows rows_;
  const AlphaPicture* kept_ = nullptr;
  int channels_ = 3;
  ColorValue key_ = kNoColor;             // full colour: the transparent colour
  std::array<uint8_t, 256 * 4> lookup_{};  // indexed: each entry as output, alpha included
};

}  // namespace velmora
