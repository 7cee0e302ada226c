#include "image/bitmap.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "image/limits.h"

namespace velmora {

Bitmap::Bitmap(int width, int height, Format format, RowOrder order, Fill fill)
    : width_(width), height_(height), format_(format) {
  CheckImageSize(kModelLimits, width, height, "Bitmap");
  stride_ = RowBytes(width, Bits());
  const bool bottom_first = order == RowOrder::kBottomFirst;
  first_ = bottom_first ? stride_ * (height - 1) : 0;
  step_ = bottom_first ? -stride_ : stride_;
  CheckAllocation(kModelLimits, stride_ * height, "Bitmap");
  // Zero-filled, without touching the pages: a decoder writes them anyway.
  pixels_ = PixelMemory(static_cast<size_t>(stride_ * height), false, fill == Fill::kZeros);
  if (fill == Fill::kZeros) return;
  const int64_t used = (int64_t{width} * Bits() + 7) / 8;
  if (used < stride_)
    for (int y = 0; y < height; ++y) std::memset(Row(y) + used, 0, static_cast<size_t>(stride_ - used));
}

Bitmap::Bitmap(const Bitmap& other)
    : width_(other.width_),
      height_(other.height_),
      format_(other.format_),
      stride_(other.stride_),
      first_(other.first_),
      step_(other.step_),
      palette_(other.palette_),
      pixels_(other.pixels_.Size(), false, /*zeroed=*/false) {
  if (other.pixels_.Size()) std::memcpy(pixels_.Data(), other.pixels_.Data(), other.pixels_.Size());
}

Bitmap& Bitmap::operator=(const Bitmap& other) {
  if (this != &other) *this = Bitmap(other);
  return *this;
}

PixelMemory Bitmap::TakePixels() {
  PixelMemory out = std::move(pixels_);
  width_ = height_ = 0;
  stride_ = first_ = step_ = 0;
  return out;
}

void Bitmap::SetPalette(std::vector<RgbQuad> palette) {
  if (palette.size() > 256) palette.resize(256);
  palette_ = std::move(palette);
}

int Bitmap::GetIndex(int x, int y) const {
  if (Bits() > 8) throw std::logic_error("Bitmap::GetIndex on a true-colour bitmap");
  return IndexAt(Row(y), x, Bits());
}

void Bitmap::SetIndex(int x, int y, int index) {
  uint8_t* row = Row(y);
  switch (format_) {
    case Format::k1Bit: {
      const int shift = 7 - (x & 7);
      row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << shift)) | ((index & 1) << shift));
      break;
    }
    case Format::k4Bit:
      if (x & 1)
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
      else
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
      break;
    case Format::k8Bit:
      row[x] = static_cast<uint8_t>(index);
      break;
    default:
      throw std::logic_error("Bitmap::SetIndex on a true-colour bitmap");
  }
}

ColorValue Bitmap::GetPixel(int x, int y) const {
  if (format_ == Format::k24Bit || format_ == Format::k32Bit) {
    const uint8_t* p = Row(y) + static_cast<int64_t>(x) * (Bits() / 8);
    return MakeColor(p[2], p[1], p[0]);
  }
  const int index = GetIndex(x, y);
  if (index < static_cast<int>(palette_.size())) return QuadColor(palette_[index]);
  return 0;
}

void Bitmap::SetPixel(int x, int y, ColorValue color) {
  if (format_ == Format::k24Bit || format_ == Format::k32Bit) {
    uint8_t* p = Row(y) + static_cast<int64_t>(x) * (Bits() / 8);
    p[0] = ColorBlue(color);
    p[1] = ColorGreen(color);
    p[2] = ColorRed(color);
    return;
  }
  SetIndex(x, y,
           NearestIndex(palette_.data(), palette_.size(), ColorRed(color), ColorGreen(color), ColorBlue(color),
                        ColorDistance::kSumOfDifferences));
}

Bitmap Bitmap::To24Bit() const {
  Bitmap out(width_, height_, Format::k24Bit);
  out.palette_ = palette_;
  for (int y = 0; y < height_; ++y) {
    const uint8_t* src = Row(y);
    uint8_t* dst = out.Row(y);
    if (format_ == Format::k24Bit) {
      std::copy(src, src + static_cast<int64_t>(width_) * 3, dst);
    } else if (format_ == Format::k32Bit) {
      for (int x = 0; x < width_; ++x) {
        dst[x * 3] = src[x * 4];
        dst[x * 3 + 1] = src[x * 4 + 1];
        dst[x * 3 + 2] = src[x * 4 + 2];
      }
    } else {
      for (int x = 0; x < width_; ++x) {
        const int index = GetIndex(x, y);
        RgbQuad q;
        if (index < static_cast<int>(palette_.size())) q = palette_[index];
        dst[x * 3] = q.blue;
        dst[x * 3 + 1] = q.green;
        dst[x * 3 + 2] = q.red;
      }
    }
  }
  return out;
}

}  // namespace velmora
