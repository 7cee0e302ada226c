#include "image/quantizer.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/error.h"

namespace velmora {
namespace {

struct ColorCell {
  int32_t red;  // sum, then representative
  int32_t green;
  int32_t blue;
  int32_t count;  // pixel count, then palette index
  int32_t index;  // cell index
};

inline int CellIndex(int r, int g, int b) { return (r >> 3) * 2048 + (g >> 2) * 32 + (b >> 3); }

class SplitTree {
 public:
  SplitTree(std::vector<ColorCell>& cells, int depth, ProgressSteps* progress, ColorTable& table)
      : cells_(cells), depth_(depth), progress_(progress), table_(table) {}

  int Split(int start, int end, int depth) {
    if (start >= end) {
      if (depth >= depth_) {
        StepProgress();
      } else {
        Split(start, end, depth + 1);
        Split(start, end, depth + 1);
      }
      return count_;
    }
    // Extended precision, as the mean and variance decide both the axis and
    // the leaf colours (rounded halves to even).
    long double n = 0, sr = 0, sg = 0, sb = 0, qr = 0, qg = 0, qb = 0;
    for (int k = start; k < end; ++k) {
      const ColorCell& c = cells_[k];
      const long double w = c.count;
      n += w;
      sr += w * c.red;
      sg += w * c.green;
      sb += w * c.blue;
      qr += w * c.red * c.red;
      qg += w * c.green * c.green;
      qb += w * c.blue * c.blue;
    }
    const long double mr = sr / n, mg = sg / n, mb = sb / n;
    if (depth >= depth_) {
      RgbQuad q;
      q.red = static_cast<uint8_t>(std::nearbyintl(mr));
      q.green = static_cast<uint8_t>(std::nearbyintl(mg));
      q.blue = static_cast<uint8_t>(std::nearbyintl(mb));
      table_[count_] = q;
      for (int k = start; k < end; ++k) cells_[k].count = count_;
      ++count_;
      StepProgress();
      return count_;
    }
    const long double vr = qr / n - mr * mr, vg = qg / n - mg * mg, vb = qb / n - mb * mb;
    int axis;  // 0 red, 1 green, 2 blue
    if (4 * vg <= 3 * vr && 2 * vb <= 3 * vr)
      axis = 0;
    else if (3 * vr > 4 * vg || 2 * vb > 3 * vg)  // green weighs 3, not 4, against blue
      axis = 2;
    else
      axis = 1;
    const long double mean = axis == 0 ? mr : axis == 1 ? mg : mb;
    auto value = [axis](const ColorCell& c) { return axis == 0 ? c.red : axis == 1 ? c.green : c.blue; };
    int lo = start, hi = end - 1;
    while (true) {
      while (lo <= hi && value(cells_[lo]) <= mean) ++lo;
      while (hi >= lo && value(cells_[hi]) > mean) --hi;
      if (lo >= hi) break;
      std::swap(cells_[lo], cells_[hi]);
    }
    const int p = lo;
    Split(p, end, depth + 1);
    Split(start, p, depth + 1);
    return count_;
  }

  int Count() const { return count_; }

 private:
  void StepProgress() {
    if (progress_) progress_->Step();
  }
  std::vector<ColorCell>& cells_;
  int depth_;
  ProgressSteps* progress_;
  ColorTable& table_;
  int count_ = 0;
};

// With reuse (src's own memory), the result is written over src's rows;
// nothing is changed before everything that can raise is done.
DibParts Quantize(const DibParts& src, int depth, const char* name, ProgressSteps* progress, bool use_fmo,
                  PixelMemory* reuse) {
  if (src.header.biBitCount != 24 || src.header.biCompression != 0)
    throw Error(ErrorKind::kUnsupported, Tr("{1}: Invalid Bitcount", {name}));
  const int width = src.Width();
  const int height = src.Height();
  const int64_t src_stride = RowBytes(width, 24);

  std::vector<ColorCell> cells(65536);
  for (int i = 0; i < 65536; ++i) cells[i] = ColorCell{0, 0, 0, 0, i};
  for (int y = 0; y < height; ++y) {
    const uint8_t* p = src.bits.Data() + src_stride * y;
    for (int x = 0; x < width; ++x, p += 3) {
      const int b = p[0], g = p[1], r = p[2];
      ColorCell& c = cells[CellIndex(r, g, b)];
      c.red += r & 7;
      c.green += g & 3;
      c.blue += b & 7;
      ++c.count;
    }
  }
  int n = 0;
  for (int i = 0; i < 65536; ++i) {
    ColorCell c = cells[i];
    if (c.count == 0) continue;
    const int ri = i >> 11, gi = (i >> 5) & 63, bi = i & 31;
    c.red = ri * 8 + c.red / c.count;
    c.green = gi * 4 + c.green / c.count;
    c.blue = bi * 8 + c.blue / c.count;
    cells[n++] = c;
  }

  DibParts out;
  out.header = src.header;
  out.table = src.table;
  SplitTree tree(cells, depth, progress, out.table);
  tree.Split(0, n, 0);

  std::vector<uint8_t> lookup(65536, 0);
  for (int k = 0; k < n; ++k) lookup[cells[k].index] = static_cast<uint8_t>(cells[k].count);

  const int bits = depth == 8 ? 8 : 4;
  const int64_t dst_stride = RowBytes(width, bits);
  const size_t dst_size = static_cast<size_t>(dst_stride * height);
  const uint8_t* from = src.bits.Data();
  if (reuse)
    out.bits = std::move(*reuse);
  else
    out.bits = PixelMemory(dst_size, use_fmo);
  const int64_t used = (int64_t{width} * bits + 7) / 8;
  for (int y = 0; y < height; ++y) {
    // In place, a row's indexes land at or before its first pixel, after the
    // rows already read, and each before the pixels still to read.
    const uint8_t* p = from + src_stride * y;
    uint8_t* d = out.bits.Data() + dst_stride * y;
    for (int x = 0; x < width; ++x, p += 3) {
      const uint8_t index = lookup[CellIndex(p[2], p[1], p[0])];
      if (bits == 8)
        d[x] = index;
      else if (x & 1)
        d[x >> 1] |= index;
      else
        d[x >> 1] = static_cast<uint8_t>(index << 4);
    }
    // Over a reused row the padding held pixels; a new one's is zero.
    if (reuse) std::memset(d + used, 0, static_cast<size_t>(dst_stride - used));
  }
  if (reuse) out.bits.Shrink(dst_size);
  out.header.biBitCount = static_cast<uint16_t>(bits);
  out.header.biCompression = 0;
  out.header.biSizeImage = 0;
  out.header.biClrUsed = static_cast<uint32_t>(tree.Count());
  return out;
}

}  // namespace

DibParts ConvertTrueColorTo8BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo) {
  return Quantize(src, 8, "ConvertTrueColorTo8BitRGBLow", progress, use_fmo, nullptr);
}

DibParts ConvertTrueColorTo4BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo) {
  return Quantize(src, 4, "ConvertTrueColorTo4BitRGBLow", progress, use_fmo, nullptr);
}

DibParts ConvertTrueColorTo8BitRGBLowInPlace(DibParts& src, ProgressSteps* progress) {
  return Quantize(src, 8, "ConvertTrueColorTo8BitRGBLow", progress, false, &src.bits);
}

DibParts ConvertTrueColorTo4BitRGBLowInPlace(DibParts& src, ProgressSteps* progress) {
  return Quantize(src, 4, "ConvertTrueColorTo4BitRGBLow", progress, false, &src.bits);
}

}  // namespace velmora
