// The working bitmap of a conversion: what every decoder hands over and what the
// preparation step resizes. Rows are padded to 32 bits and stored top row
// first, or bottom row first when a decoder asks: that is a DIB's order, so
// the capture then takes the pixels as they are.
#pragma once

#include <cstdint>
#include <vector>

#include "image/color.h"
#include "image/pixel_memory.h"

namespace velmora {

class Bitmap {
 public:
  // Bits per pixel a bitmap can hold. 32 (blue, green, red, unused) is accepted
  // from decoders and becomes 24 bits when captured into a DibImage.
  enum class Format { k1Bit = 1, k4Bit = 4, k8Bit = 8, k24Bit = 24, k32Bit = 32 };

  enum class RowOrder { kTopFirst, kBottomFirst };

  // What the pixel bytes hold when made: zeros, or whatever is there for a
  // caller that writes every byte of every row's pixels before reading any
  // (the padding at the rows' ends is cleared all the same, as a file
  // written from the rows carries it).
  enum class Fill { kZeros, kWrittenByCaller };

  Bitmap() = default;
  // A zero-filled bitmap; the size is checked against the decoding limits.
  Bitmap(int width, int height, Format format, RowOrder order = RowOrder::kTopFirst, Fill fill = Fill::kZeros);

  int Width() const { return width_; }
  int Height() const { return height_; }
  Format PixelFormat() const { return format_; }
  int Bits() const { return static_cast<int>(format_); }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  int64_t Stride() const { return stride_; }
  RowOrder Order() const { return step_ < 0 ? RowOrder::kBottomFirst : RowOrder::kTopFirst; }

  // Palette of up to 256 entries (used by the 1, 4 and 8-bit formats; a 24-bit
  // bitmap may carry one too, which a capture keeps).
  const std::vector<RgbQuad>& Palette() const { return palette_; }
  void SetPalette(std::vector<RgbQuad> palette);

  // Row y counted from the top, whatever the order in memory.
  uint8_t* Row(int y) { return pixels_.Data() + first_ + step_ * y; }
  const uint8_t* Row(int y) const { return pixels_.Data() + first_ + step_ * y; }
  // The start of the pixel memory (Stride() * Height() bytes in Order()).
  uint8_t* Data() { return pixels_.Data(); }
  const uint8_t* Data() const { return pixels_.Data(); }

  // Copies own their pixels; moves hand them over.
  Bitmap(const Bitmap& other);
  Bitmap& operator=(const Bitmap& other);
  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;
  // Gives the pixel memory away (rows in Order(), Stride() bytes each); the
  // bitmap is empty afterwards.
  PixelMemory TakePixels();

  // Palette index at (x, y) of a 1, 4 or 8-bit bitmap.
  int GetIndex(int x, int y) const;
  void SetIndex(int x, int y, int index);
  // Colour at (x, y): through the palette for indexed formats.
  ColorValue GetPixel(int x, int y) const;
  // Sets a 24/32-bit pixel directly; for indexed bitmaps the nearest palette entry.
  void SetPixel(int x, int y, ColorValue color);

  // A 24-bit copy with the same size (the palette, if any, is kept).
  Bitmap To24Bit() const;

 private:
  int width_ = 0;
  int height_ = 0;
  Format format_ = Format::k24Bit;
  int64_t stride_ = 0;
  int64_t first_ = 0;  // offset of the top row
  int64_t step_ = 0;   // from one row to the one below
  std::vector<RgbQuad> palette_;
  PixelMemory pixels_;
};

}  // namespace velmora
