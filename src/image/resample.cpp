#include "image/resample.h"

#include <cmath>
#include <stdexcept>
#include <vector>

namespace velmora {
namespace {

// One source cell intersected with a footprint along one axis: the two clamped
// sample indices, the covered width and its mid-point measured from the cell.
struct Span {
  int lo;
  int hi;
  double w;
  double m;
};

// Spans of every target position along one axis, computed once per call.
std::vector<std::vector<Span>> AxisSpans(int target, int source_size, double scale) {
  std::vector<std::vector<Span>> spans(static_cast<size_t>(target));
  const int last = source_size - 1;
  auto clamp = [last](int64_t v) { return static_cast<int>(v < 0 ? 0 : v > last ? last : v); };
  for (int t = 0; t < target; ++t) {
    // 0.500001, not 0.5: the footprint stays a hair narrower than the scale, so
    // no channel can round above 255.
    const double x0 = t * scale - 0.5;
    const double x1 = (t + 1) * scale - 0.500001;
    for (int64_t i = static_cast<int64_t>(std::floor(x0)); i <= static_cast<int64_t>(std::floor(x1)); ++i) {
      const double di = static_cast<double>(i);
      double w, m;
      if (di > x0 && di + 1 < x1) {
        w = 1;
        m = 0.5;
      } else if (di <= x0 && di + 1 < x1) {
        w = 1 - (x0 - di);
        m = ((x0 - di) + 1) / 2;
      } else if (di > x0 && di + 1 >= x1) {
        w = x1 - di;
        m = w / 2;
      } else {
        w = x1 - x0;
        m = ((x1 - di) + (x0 - di)) / 2;
      }
      spans[t].push_back(Span{clamp(i), clamp(i + 1), w, m});
    }
  }
  return spans;
}

}  // namespace

Bitmap ResampleBitmap(const Bitmap& source, int width, int height) {
  const int sw = source.Width();
  const int sh = source.Height();
  if (sw < 1 || sh < 1) throw std::logic_error("Assertion failed: ResampleBitmap on an empty bitmap");
  if (width <= 0 || height <= 0) throw std::domain_error("Floating point division by zero");
  const double sx = static_cast<double>(sw) / width;
  const double sy = static_cast<double>(sh) / height;
  const double area = static_cast<double>(static_cast<int64_t>(sw) * sh) / width / height;

  const Bitmap copy = source.PixelFormat() == Bitmap::Format::k24Bit ? Bitmap() : source.To24Bit();
  const Bitmap& src = source.PixelFormat() == Bitmap::Format::k24Bit ? source : copy;
  Bitmap out(width, height, Bitmap::Format::k24Bit);

  const auto columns = AxisSpans(width, sw, sx);
  const auto rows = AxisSpans(height, sh, sy);
  std::vector<const uint8_t*> row_ptr(static_cast<size_t>(sh));
  for (int j = 0; j < sh; ++j) row_ptr[j] = src.Row(j);

  for (int y = 0; y < height; ++y) {
    uint8_t* dst = out.Row(y);
    const auto& row_spans = rows[y];
    for (int x = 0; x < width; ++x) {
      double sum[3] = {0, 0, 0};
      for (const Span& u : columns[x]) {
        const int i0 = u.lo * 3, i1 = u.hi * 3;
        for (const Span& v : row_spans) {
          const uint8_t* r0 = row_ptr[v.lo];
          const uint8_t* r1 = row_ptr[v.hi];
          const double weight = u.w * v.w;
          for (int c = 0; c < 3; ++c) {
            const double p00 = r0[i0 + c], p10 = r0[i1 + c], p01 = r1[i0 + c], p11 = r1[i1 + c];
            sum[c] += weight * (p00 + (p10 - p00) * u.m + (p01 - p00) * v.m + (p11 - p10 - p01 + p00) * u.m * v.m);
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        const double value = std::nearbyint(sum[c] / area);
        dst[x * 3 + c] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
  return out;
}

}  // namespace velmora
