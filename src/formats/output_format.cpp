#include "formats/output_format.h"

#include "base/messages.h"

namespace velmora {

uint64_t CheckEncoderMemory(const OutputFormat& format, const DibImage& image, const EncodeOptions& options) {
  const int64_t width = image.Width(), height = image.Height();
  const uint64_t beside = format.memory ? format.memory(width, height, image.BitCount(), options) : kEncoderBuffers;
  if (!options.context) return beside;
  uint64_t picture = PictureBytes(width, height, image.BitCount());
  if (options.extras.alpha) picture += PictureBytes(width, height, 32);
  const auto limit = static_cast<uint64_t>(options.context->limits.max_memory);
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  if (picture + beside > limit)
    throw Error(ErrorKind::kTooLarge,
                Tr("writing {1} x {2} pixels as {3} needs about {4} MB, more than the memory limit of {5} MB",
                   {std::to_string(width), std::to_string(height), format.name,
                    std::to_string((picture + beside + kMiB - 1) / kMiB), std::to_string(limit / kMiB)}));
  return beside;
}

}  // namespace velmora
