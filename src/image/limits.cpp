#include "image/limits.h"

namespace velmora {
namespace {

DecodeLimits g_limits;

}  // namespace

const DecodeLimits& CurrentLimits() { return g_limits; }
void SetLimits(const DecodeLimits& limits) { g_limits = limits; }

void CheckImageSize(int64_t width, int64_t height, const char* who) {
  const DecodeLimits& limits = CurrentLimits();
  const std::string claim = std::string(who) + ": " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width <= 0 || height <= 0) throw ImageTooLargeError(claim + " is not a picture size");
  if (width > limits.max_side || height > limits.max_side)
    throw ImageTooLargeError(claim + " exceed the limit of " + std::to_string(limits.max_side) + " pixels per side");
  // Both sides are at most 2^20 here unless the limit was raised; divide to
  // stay clear of overflow either way.
  if (width > limits.max_pixels / height)
    throw ImageTooLargeError(claim + " exceed the limit of " + std::to_string(limits.max_pixels) +
                             " pixels per picture");
}

void CheckAllocation(int64_t bytes, const char* who) {
  const DecodeLimits& limits = CurrentLimits();
  if (bytes < 0 || bytes > limits.max_allocation)
    throw ImageTooLargeError(std::string(who) + ": " + std::to_string(bytes) + " bytes exceed the limit of " +
                             std::to_string(limits.max_allocation) + " bytes for one allocation");
}

void CheckClaimedSize(int64_t width, int64_t height, uint64_t available, double pixels_per_byte, const char* who) {
  if (width <= 0 || height <= 0) CheckImageSize(width, height, who);
  // A claim the file cannot hold says more about the file than a limit
  // does, so it is told first. Doubles hold any product of two int64 sides
  // closely enough for a comparison.
  const double pixels = static_cast<double>(width) * static_cast<double>(height);
  if (pixels > static_cast<double>(available) * pixels_per_byte)
    throw DecodeError(DecodeKind::kIncompleteData, std::string(who) + ": " + std::to_string(width) + " x " +
                                                       std::to_string(height) + " pixels cannot be held in " +
                                                       std::to_string(available) + " bytes");
  CheckImageSize(width, height, who);
}

}  // namespace velmora
