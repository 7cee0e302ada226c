#include "image/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <type_traits>
#include <utility>
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

constexpr size_t kRingBytes = size_t{16} << 20;

// Four doubles, of which a pixel's three channels use the first three: the
// fourth reads the next pixel's blue (or the ring's padding) and is thrown
// away. Without AVX the compiler splits each operation into two SSE2 ones.
typedef double Lanes __attribute__((vector_size(32)));

// By reference: a vector returned by value would change the ABI with AVX.
[[gnu::always_inline]] inline void LoadLanes(Lanes& v, const double* p) { __builtin_memcpy(&v, p, sizeof v); }

// Every target pixel: the area-weighted sum of the bilinear surface over
// its footprint, cell by cell. row(j) gives source row j as bytes or as
// doubles; the arithmetic is the same either way. With kLanes (rows of
// doubles only) a pixel's channels are summed side by side, each lane
// computing exactly the scalar expression for its channel.
template <bool kLanes, typename RowOf>
[[gnu::always_inline]] inline void Accumulate(const std::vector<std::vector<Span>>& columns,
                                              const std::vector<std::vector<Span>>& rows, double area, Bitmap& out,
                                              RowOf row) {
  using Sample = std::remove_cv_t<std::remove_pointer_t<decltype(row(0))>>;
  std::vector<std::pair<const Sample*, const Sample*>> row_pairs;
  for (int y = 0; y < out.Height(); ++y) {
    uint8_t* dst = out.Row(y);
    const auto& row_spans = rows[static_cast<size_t>(y)];
    row_pairs.clear();
    for (const Span& v : row_spans) {
      const Sample* lo = row(v.lo);
      row_pairs.emplace_back(lo, row(v.hi));
    }
    for (int x = 0; x < out.Width(); ++x) {
      std::conditional_t<kLanes, Lanes, std::array<double, 3>> sum{};
      for (const Span& u : columns[static_cast<size_t>(x)]) {
        const int i0 = u.lo * 3, i1 = u.hi * 3;
        for (size_t k = 0; k < row_spans.size(); ++k) {
          const Span& v = row_spans[k];
          const Sample* r0 = row_pairs[k].first;
          const Sample* r1 = row_pairs[k].second;
          const double weight = u.w * v.w;
          if constexpr (kLanes) {
            Lanes p00, p10, p01, p11;
            LoadLanes(p00, r0 + i0);
            LoadLanes(p10, r0 + i1);
            LoadLanes(p01, r1 + i0);
            LoadLanes(p11, r1 + i1);
            sum += weight * (p00 + (p10 - p00) * u.m + (p01 - p00) * v.m + (p11 - p10 - p01 + p00) * u.m * v.m);
          } else {
            for (int c = 0; c < 3; ++c) {
              const double p00 = r0[i0 + c], p10 = r0[i1 + c], p01 = r1[i0 + c], p11 = r1[i1 + c];
              sum[c] += weight * (p00 + (p10 - p00) * u.m + (p01 - p00) * v.m + (p11 - p10 - p01 + p00) * u.m * v.m);
            }
          }
        }
      }
      for (int c = 0; c < 3; ++c) {
        const double value = std::nearbyint(sum[c] / area);
        dst[x * 3 + c] = static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
      }
    }
  }
}

using RingRow = std::function<const double*(int)>;

void AccumulateSse2(const std::vector<std::vector<Span>>& columns, const std::vector<std::vector<Span>>& rows,
                    double area, Bitmap& out, const RingRow& row) {
  Accumulate<true>(columns, rows, area, out, row);
}

// No "fma" here: a fused multiply-add rounds once where the scalar code
// rounds twice, and the bits would differ.
[[gnu::target("avx2")]] void AccumulateAvx2(const std::vector<std::vector<Span>>& columns,
                                            const std::vector<std::vector<Span>>& rows, double area, Bitmap& out,
                                            const RingRow& row) {
  Accumulate<true>(columns, rows, area, out, row);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace

Bitmap ResampleBitmap(const Bitmap& source, int width, int height) {
  return ResampleBitmap(source, width, height, kRingBytes);
}

namespace {

// The resampler over 24-bit rows wherever they are held: row(j) gives
// source row j (top first, blue first).
template <typename RowOf>
Bitmap Resample(int sw, int sh, const RowOf& row, int width, int height, size_t ring_bytes, ResampleKernel kernel) {
  if (sw < 1 || sh < 1) throw std::logic_error("Assertion failed: ResampleBitmap on an empty bitmap");
  if (width <= 0 || height <= 0) throw std::domain_error("Floating point division by zero");
  const double sx = static_cast<double>(sw) / width;
  const double sy = static_cast<double>(sh) / height;
  const double area = static_cast<double>(static_cast<int64_t>(sw) * sh) / width / height;
  Bitmap out(width, height, Bitmap::Format::k24Bit);

  const auto columns = AxisSpans(width, sw, sx);
  const auto rows = AxisSpans(height, sh, sy);
  // Source rows as doubles, each converted once for all the target rows
  // that read it: a ring of slots as deep as the rows one target row reads,
  // which move only forward. The values are those a conversion at each use
  // gives, so the sums are the same to the last bit. A target row that reads
  // so many source rows that the ring would be large (a small icon of a big
  // picture) reads the bytes directly instead.
  size_t depth = 1;
  for (const auto& spans : rows)
    if (!spans.empty()) depth = std::max(depth, static_cast<size_t>(spans.back().hi - spans.front().lo + 1));
  const size_t row_values = static_cast<size_t>(sw) * 3;
  // One double of padding after each row for the vector kernels' fourth lane.
  const size_t stride = row_values + 1;
  if (depth * stride * sizeof(double) <= ring_bytes) {
    std::vector<double> ring(depth * stride);
    std::vector<int> held(depth, -1);
    const RingRow ring_row = [&](int j) -> const double* {
      const size_t slot = static_cast<size_t>(j) % depth;
      double* d = ring.data() + slot * stride;
      if (held[slot] != j) {
        const uint8_t* r = row(j);
        for (size_t k = 0; k < row_values; ++k) d[k] = r[k];
        held[slot] = j;
      }
      return d;
    };
    switch (kernel) {
      case ResampleKernel::kAvx2:
        AccumulateAvx2(columns, rows, area, out, ring_row);
        break;
      case ResampleKernel::kSse2:
        AccumulateSse2(columns, rows, area, out, ring_row);
        break;
      case ResampleKernel::kScalar:
        Accumulate<false>(columns, rows, area, out, ring_row);
        break;
    }
  } else {
    Accumulate<false>(columns, rows, area, out, [&](int j) { return row(j); });
  }
  return out;
}

// A bitmap of any depth through Resample, as 24-bit rows.
Bitmap ResampleAnyDepth(const Bitmap& source, int width, int height, size_t ring_bytes, ResampleKernel kernel) {
  if (source.Width() < 1 || source.Height() < 1)
    throw std::logic_error("Assertion failed: ResampleBitmap on an empty bitmap");
  const Bitmap copy = source.PixelFormat() == Bitmap::Format::k24Bit ? Bitmap() : source.To24Bit();
  const Bitmap& src = source.PixelFormat() == Bitmap::Format::k24Bit ? source : copy;
  return Resample(src.Width(), src.Height(), [&](int j) { return src.Row(j); }, width, height, ring_bytes, kernel);
}

}  // namespace

ResampleKernel BestResampleKernel() { return HasAvx2() ? ResampleKernel::kAvx2 : ResampleKernel::kSse2; }

Bitmap ResampleBitmap(const Bitmap& source, int width, int height, size_t ring_bytes) {
  return ResampleAnyDepth(source, width, height, ring_bytes, BestResampleKernel());
}

Bitmap ResampleBitmapWith(ResampleKernel kernel, const Bitmap& source, int width, int height) {
  if (kernel == ResampleKernel::kAvx2 && !HasAvx2()) throw std::logic_error("this processor has no AVX2");
  return ResampleAnyDepth(source, width, height, kRingBytes, kernel);
}

Bitmap ResampleRows(const ImageRows& source, int width, int height) {
  if (source.Bits() != 24) throw std::logic_error("ResampleRows needs 24-bit rows");
  return Resample(source.Width(), source.Height(), [&](int j) { return source.Row(j); }, width, height, kRingBytes,
                  BestResampleKernel());
}

}  // namespace velmora
