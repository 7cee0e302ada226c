// Kodak Photo CD input (pcd): the base picture, 768 x 512 in PhotoYCC with
// chroma halved both ways, at sector 384; turned upright as the image pack's
// orientation says. The larger resolutions need the Huffman-coded residuals
// and are not read.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("PCD image error");
constexpr size_t kSignatureOffset = 0x800;
constexpr size_t kOrientationOffset = 0xE02;
constexpr size_t kBaseOffset = 0x30000;
constexpr int kWidth = 768;
constexpr int kHeight = 512;

bool RecognisesPcd(const uint8_t* data, size_t size) {
  return size >= kSignatureOffset + 7 && std::memcmp(data + kSignatureOffset, "PCD_IPI", 7) == 0;
}

uint8_t Clip(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

class PcdGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "PcdGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (!RecognisesPcd(data, size)) in.Invalid(Tr("not a Photo CD image pack"));
    const int orientation = size > kOrientationOffset ? data[kOrientationOffset] & 3 : 0;
    if (size < kBaseOffset) in.Truncated();
    in.Seek(kBaseOffset);
    ClaimSize(kWidth, kHeight, in.Remaining(), 2.0 / 3.0, kWho);
    const uint8_t* base = in.Take(size_t{kWidth} * kHeight * 3 / 2);
    Bitmap landscape(kWidth, kHeight, Bitmap::Format::k24Bit);
    const size_t pair = size_t{kWidth} * 3;  // two luma rows and both chroma rows
    for (int y = 0; y < kHeight; ++y) {
      const uint8_t* rows = base + pair * (y / 2);
      const uint8_t* luma = rows + (y & 1) * kWidth;
      uint8_t* d = landscape.Row(y);
      for (int x = 0; x < kWidth; ++x) {
        // Chroma is interpolated between the samples around the pixel.
        const double c1 = Chroma(base, pair, x, y, 2 * kWidth);
        const double c2 = Chroma(base, pair, x, y, 2 * kWidth + kWidth / 2);
        const double l = 1.3584 * luma[x];
        const double cb = 2.2179 * (c1 - 156);
        const double cr = 1.8215 * (c2 - 137);
        // PhotoYCC reaches above white (up to 346): the display range clips.
        d[x * 3 + 2] = Clip(l + cr);
        d[x * 3 + 1] = Clip(l - 0.194 * cb - 0.509 * cr);
        d[x * 3] = Clip(l + cb);
      }
    }
    bitmap_ = Upright(landscape, orientation);
  }

 private:
  // The chroma plane at offset within each row pair, sampled at the centre
  // of pixel (x, y): samples sit at even coordinates of the full grid.
  static double Chroma(const uint8_t* base, size_t pair, int x, int y, size_t offset) {
    auto at = [&](int cx, int cy) {
      cx = std::clamp(cx, 0, kWidth / 2 - 1);
      cy = std::clamp(cy, 0, kHeight / 2 - 1);
      return static_cast<double>(base[pair * cy + offset + cx]);
    };
    const int cx = x / 2, cy = y / 2;
    const int nx = (x & 1) ? cx + 1 : cx, ny = (y & 1) ? cy + 1 : cy;
    return (at(cx, cy) + at(nx, cy) + at(cx, ny) + at(nx, ny)) / 4;
  }

  static Bitmap Upright(const Bitmap& in, int orientation) {
    if (orientation == 0) return in;
    const bool quarter = orientation != 2;
    const int w = quarter ? in.Height() : in.Width(), h = quarter ? in.Width() : in.Height();
    Bitmap out(w, h, Bitmap::Format::k24Bit);
    for (int y = 0; y < h; ++y) {
      uint8_t* d = out.Row(y);
      for (int x = 0; x < w; ++x) {
        int sx, sy;
        switch (orientation) {
          case 1:  // stored turned a quarter clockwise: turn it back
            sx = in.Width() - 1 - y, sy = x;
            break;
          case 2:
            sx = in.Width() - 1 - x, sy = in.Height() - 1 - y;
            break;
          default:
            sx = y, sy = in.Height() - 1 - x;
            break;
        }
        std::memcpy(d + x * 3, in.Row(sy) + sx * 3, 3);
      }
    }
    return out;
  }
};

}  // namespace

const GraphicClass& PcdClass() {
  static const GraphicClass cls{"PcdGraphic", [] { return std::make_unique<PcdGraphic>(); }, RecognisesPcd};
  return cls;
}

const InputFormat& PcdFormat() {
  static const InputFormat format{
      "Photo CD",
      {{Registration::kSideFormat, PcdClass, "pcd", N_("Kodak Photo-CD images")}},
      nullptr,
      true,
      true,
      {"image/x-photo-cd"}};
  return format;
}

}  // namespace velmora
