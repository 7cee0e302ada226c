#include "image/limits.h"

#include "base/messages.h"

namespace velmora {
void CheckImageSize(const DecodeLimits& limits, int64_t width, int64_t height, const char* who) {
  // Called for every bitmap made: the message is only built for a refusal.
  auto refuse = [&](const char* key, int64_t limit) {
    throw Error(ErrorKind::kTooLarge, 
        Tr(key, {Tr(who), std::to_string(width), std::to_string(height), std::to_string(limit)}));
  };
  if (width <= 0 || height <= 0) refuse(N_("{1}: {2} x {3} pixels is not a picture size"), 0);
  if (width > limits.max_side || height > limits.max_side)
    refuse(N_("{1}: {2} x {3} pixels exceed the limit of {4} pixels per side"), limits.max_side);
  // Both sides are at most 2^20 here unless the limit was raised; divide to
  // stay clear of overflow either way.
  if (width > limits.max_pixels / height)
    refuse(N_("{1}: {2} x {3} pixels exceed the limit of {4} pixels per picture"), limits.max_pixels);
}

void CheckAllocation(const DecodeLimits& limits, int64_t bytes, const char* who) {
  if (bytes < 0 || bytes > limits.max_allocation)
    throw Error(ErrorKind::kTooLarge, Tr("{1}: {2} bytes exceed the limit of {3} bytes for one allocation",
                                {Tr(who), std::to_string(bytes), std::to_string(limits.max_allocation)}));
}

void CheckClaimedSize(const DecodeLimits& limits, int64_t width, int64_t height, uint64_t available,
                      double pixels_per_byte, const char* who) {
  if (width <= 0 || height <= 0) CheckImageSize(limits, width, height, who);
  // A claim the file cannot hold says more about the file than a limit
  // does, so it is told first. Doubles hold any product of two int64 sides
  // closely enough for a comparison.
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  if (pixels > static_cast<double>(available) * pixels_per_byte)
    throw Error(ErrorKind::kTruncated,
                      Tr("{1}: {2} x {3} pixels cannot be held in {4} bytes",
                         {Tr(who), std::to_string(width), std::to_string(height), std::to_string(available)}));
  CheckImageSize(limits, width, height, who);
}

}  // namespace velmora
