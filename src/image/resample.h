#pragma once

#include <cstddef>

#include "image/bitmap.h"
#include "image/image_rows.h"

namespace velmora {

// Area average over the bilinear interpolation of the source: a new 24-bit
// bitmap of exactly width x height. Raises std::domain_error for a target size
// of 0 (a division by zero) and std::logic_error for an empty source.
Bitmap ResampleBitmap(const Bitmap& source, int width, int height);

// The same, with the source rows kept as doubles only while they take at
// most ring_bytes (the default is what ResampleBitmap uses); for tests,
// which hold both ways to the same bits.
Bitmap ResampleBitmap(const Bitmap& source, int width, int height, size_t ring_bytes);

// How the sums are taken: one channel at a time, or the three channels of a
// pixel side by side in vector lanes (SSE2, or AVX2 where the processor has
// it). Each lane does the same operations in the same order as the scalar
// code, without fused multiply-add, so every kernel gives the same bits.
enum class ResampleKernel { kScalar, kSse2, kAvx2 };
// The kernel the resampler uses on this processor.
ResampleKernel BestResampleKernel();
// ResampleBitmap with a chosen kernel (one the processor has), for tests
// and benchmarks.
Bitmap ResampleBitmapWith(ResampleKernel kernel, const Bitmap& source, int width, int height);

// The same over 24-bit rows read where they are (a DIB's own): no copy of
// a big source. Raises std::logic_error for rows of another depth.
Bitmap ResampleRows(const ImageRows& source, int width, int height);

}  // namespace velmora
