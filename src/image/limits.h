// What a decoder may spend on one input. Every decoder checks the size a
// file claims against these limits before its first allocation and before
// any decoding work, so a hostile header costs nothing.
#pragma once

#include <cstdint>
#include <string>

#include "base/error.h"

namespace velmora {

struct DecodeLimits {
  // Largest picture: 2^28 pixels (a 24-bit copy is 768 MiB), which a machine
  // with a few GiB can still prepare and write.
  int64_t max_pixels = int64_t{1} << 28;
  // Longest side, whatever the other side is.
  int64_t max_side = int64_t{1} << 20;
  // Largest single allocation a decoder or a library it calls may make.
  int64_t max_allocation = int64_t{1} << 30;
  // Largest input file.
  int64_t max_file = int64_t{2} << 30;
  // The most one conversion may hold: its pictures and what an encoder
  // needs beside them. An output whose encoder would pass it fails alone.
  // The front ends set it from the machine (platform::DefaultMemoryLimit).
  int64_t max_memory = int64_t{8} << 30;
};

// What the image model itself holds, whatever a loader allows: a guard
// against sizes whose arithmetic would overflow, not a policy. The loader's
// limits are what a user sets.
inline constexpr DecodeLimits kModelLimits{int64_t{1} << 32, int64_t{1} << 24, int64_t{1} << 36, int64_t{1} << 40,
                                           int64_t{1} << 44};

// Refuses a width x height that is not positive or exceeds the side or
// pixel limit, naming the limit, the claimed size and the allowed size.
// Cannot overflow, whatever the claim.
void CheckImageSize(const DecodeLimits& limits, int64_t width, int64_t height, const char* who);
// Refuses a single allocation of bytes beyond the allocation limit.
void CheckAllocation(const DecodeLimits& limits, int64_t bytes, const char* who);

// The one size gate every decoder passes before its first allocation: the
// size must be within the limits above, and within what `available` bytes of
// encoded data can hold when packed as densely as the format allows
// (`pixels_per_byte`: its longest run per byte, or its bits per pixel for
// data it cannot compress). A header claiming a picture its file cannot
// hold is refused before anything is spent on it.
void CheckClaimedSize(const DecodeLimits& limits, int64_t width, int64_t height, uint64_t available,
                      double pixels_per_byte, const char* who);

}  // namespace velmora
