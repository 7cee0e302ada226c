// The one BMP core: headers, colour-table entries, colour masks with their
// channel scaling, and run-length decoding. Two readers sit on it with their
// own policies: DibImage (strict, the fixed messages of the image model) and
// the bitmap class (lenient, every variant a user meets).
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/byte_order.h"
#include "image/color.h"

namespace velmora::bmp {

inline constexpr uint16_t kFileType = 0x4D42;  // "BM"
inline constexpr size_t kFileHeaderSize = 14;

struct FileHeader {
  uint16_t type = 0;
  uint32_t size = 0;      // bfSize
  uint32_t off_bits = 0;  // bfOffBits
};
// p holds kFileHeaderSize bytes.
FileHeader ParseFileHeader(const uint8_t* p);

// Whether size is that of an info header version below.
inline constexpr bool IsInfoHeaderSize(uint32_t size) {
  return size == 12 || size == 16 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
         size == 124;
}

// The fields of any info header version: 12 bytes (OS/2 1.x core), 16 and
// 64 (OS/2 2.x), 40, 52, 56, 108 and 124 (Windows). Fields a version lacks
// are zero.
struct InfoHeader {
  uint32_t size = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows stored top first
  uint16_t planes = 0;
  uint16_t bits = 0;
  uint32_t compression = 0;
  uint32_t size_image = 0;
  int32_t x_pels_per_meter = 0;
  int32_t y_pels_per_meter = 0;
  uint32_t clr_used = 0;
  uint32_t clr_important = 0;
  // The four words after the 40-byte part: the red, green, blue and alpha
  // masks of the longer Windows headers (52 bytes: colour masks only).
  uint32_t masks[4] = {0, 0, 0, 0};
  int masks_in_header = 0;  // how many of masks[] the header holds
};
// p holds size bytes; size must be one of the versions above.
InfoHeader ParseInfoHeader(const uint8_t* p, uint32_t size);

// One colour-table entry: blue, green, red (and a reserved byte in the
// 4-byte form, which is not kept).
inline RgbQuad TableEntry(const uint8_t* p) { return RgbQuad{p[0], p[1], p[2], 0}; }

// The masks 16 and 32-bit images use without bit fields: 5-5-5 and 8-8-8.
void DefaultMasks(int bits, uint32_t masks[3]);

// How a masked channel becomes 0..255. The image model truncates after
// cutting the mask to its 8 most significant bits; the bitmap class keeps
// every bit and rounds.
enum class ChannelScaling { kTruncate, kRound };

class ChannelScaler {
 public:
  ChannelScaler() = default;
  ChannelScaler(uint32_t mask, ChannelScaling scaling);
  uint32_t Mask() const { return mask_; }
  uint8_t Of(uint32_t pixel) const;

 private:
  uint32_t mask_ = 0;
  ChannelScaling scaling_ = ChannelScaling::kRound;
  int shift_ = 0;        // right shift (negative: left) that aligns the channel
  uint64_t maximum_ = 0;  // the aligned mask
};

// Whether run-length data of size bytes can plausibly describe a width x
// height picture. Runs, ends of line and deltas let a few bytes cover much,
// but real encoders never reach 4096 pixels per byte; a claim beyond that
// (a 60-byte file of 16384 x 16384 pixels) is refused before any pixel
// memory is allocated. Small pictures always pass.
bool RlePlausible(int64_t width, int64_t height, size_t size);

// What went wrong in run-length data. The readers word these themselves.
enum class RleFault {
  kDataEndsEarly,     // the data ends inside an opcode (strict reading only)
  kRowsPastImage,     // an end of line beyond the last row
  kDeltaPastImage,    // a delta that moves outside the image
  kLiteralPastImage,  // literal pixels beyond the row or the image
  kRunPastImage,      // a run beyond the row or the image
};

// Strict: data must end with its end-of-bitmap mark, and no run passes the
// row's end. Lenient, as the desktop's own reader and every viewer read
// what ImageMagick and GraphicsMagick write (a last run of a row whose
// width is not a multiple of four passes its end): data that ends early
// leaves the rest of the image as it is, and a run or literal past the
// row's end is clipped there, the rest of it dropped.
enum class RleEnd { kStrict, kLenient };

// Decodes RLE8 (rle4 false) or RLE4 data of a width x height image: calls
// put(x, y, index) for every pixel it sets, y counted from the bottom row as
// the data stores them, and fault(RleFault), which must raise, on damage.
template <class Put, class Fault>
void DecodeRle(const uint8_t* data, size_t size, int width, int height, bool rle4, RleEnd end, Put&& put,
               Fault&& fault) {
  size_t pos = 0;
  int x = 0, y = 0;
  auto have = [&](size_t n) {
    if (n <= size - pos) return true;
    if (end == RleEnd::kStrict) fault(RleFault::kDataEndsEarly);
    return false;
  };
  while (have(2)) {
    const int a = data[pos], b = data[pos + 1];
    pos += 2;
    if (a > 0) {
      if (y >= height || (x + a > width && end == RleEnd::kStrict)) fault(RleFault::kRunPastImage);
      for (int k = 0; k < a && x + k < width; ++k) put(x + k, y, rle4 ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
      x += a;
    } else if (b == 0) {
      ++y;
      x = 0;
      if (y > height) fault(RleFault::kRowsPastImage);
    } else if (b == 1) {
      return;
    } else if (b == 2) {
      if (!have(2)) return;
      x += data[pos];
      y += data[pos + 1];
      pos += 2;
      if (x > width || y > height) fault(RleFault::kDeltaPastImage);
    } else {
      const int n = b;
      const size_t bytes = rle4 ? static_cast<size_t>(n + 1) / 2 : static_cast<size_t>(n);
      if (!have(bytes)) return;
      if (y >= height || (x + n > width && end == RleEnd::kStrict)) fault(RleFault::kLiteralPastImage);
      for (int k = 0; k < n && x + k < width; ++k)
        put(x + k, y, rle4 ? ((k & 1) ? (data[pos + k / 2] & 0x0F) : (data[pos + k / 2] >> 4)) : data[pos + k]);
      x += n;
      // Literal runs are padded to a whole 16-bit word.
      const size_t padded = bytes + (bytes & 1);
      pos += padded < size - pos ? padded : size - pos;
    }
  }
}

}  // namespace velmora::bmp
