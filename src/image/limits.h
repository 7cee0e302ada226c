#pragma once

#include <cstdint>
#include <string>

#include "image/errors.h"

namespace velmora {

// Largest image any decoder or the image model accepts: 2^28 pixels (a 24-bit
// copy is 768 MiB), which a machine with a few GiB can still prepare and write.
inline constexpr int64_t kMaxPixels = int64_t{1} << 28;

// Refuses a width x height that is not positive or exceeds kMaxPixels, naming
// the claimed size; called before any pixel allocation.
inline void CheckImageSize(int64_t width, int64_t height, const char* who) {
  if (width <= 0 || height <= 0 || width * height > kMaxPixels) {
    throw ImageTooLargeError(std::string(who) + ": image of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels is outside the supported size (at most " + std::to_string(kMaxPixels) +
                             " pixels)");
  }
}

}  // namespace velmora
