// JPEG XL output on libjxl: lossy at the distance cjxl gives the quality
// bar's place on the JPEG-like quality scale, or lossless when asked; sRGB,
// 8 bits, effort 7 (cjxl's default) unless the picture's size asks for less
// memory; a transparent colour becomes alpha.
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/messages.h"
#include "formats/output_format.h"
#include "platform/library_output.h"
#include "formats/rgba_rows.h"
#include "image/dib_image.h"

namespace velmora {
namespace {

// cjxl's mapping of a JPEG-like quality to a distance: linear above 30, a
// parabola below meeting it there.
float JxlDistance(int quality) {
  const float q = static_cast<float>(quality);
  if (q >= 100) return 0.0f;
  if (q >= 30) return 0.1f + (100 - q) * 0.09f;
  return 53.0f / 3000.0f * q * q - 23.0f / 20.0f * q + 25.0f;
}

// The effort and what libjxl holds beside the picture at it, measured
// (bench: the JPEG XL effort table) on flat and noise pictures of 8, 24 and
// 67 Mpx: effort 7 searches a flat picture for patches at up to 180 bytes a
// pixel, effort 6 stays within 66 (lossy); lossless from effort 5 on is as
// costly as lossy 7; effort 3 needs 71 and, on a 24 Mpx photo of noise,
// 8 s where effort 4 takes 200 s (single-threaded) for a file 1.5 % smaller.
// The highest effort is kept for pictures of up to kFullEffortUpTo pixels
// that fit the memory limit.
struct JxlPlan {
  int effort;
  uint64_t memory;
};
constexpr int64_t kFullEffortUpTo = int64_t{16} << 20;

JxlPlan PlanFor(int64_t width, int64_t height, int bits, const EncodeOptions& options) {
  struct Step {
    int effort;
    uint64_t per_pixel;
  };
  static constexpr Step kLossy[] = {{7, 180}, {6, 66}};
  static constexpr Step kLossless[] = {{7, 180}, {3, 76}};
  const auto& steps = options.lossless ? kLossless : kLossy;
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  uint64_t room = UINT64_MAX;
  if (options.context) {
    const uint64_t picture = PictureBytes(width, height, bits) + (options.extras.alpha ? pixels * 4 : 0);
    const auto limit = static_cast<uint64_t>(options.context->limits.max_memory);
    room = limit > picture ? limit - picture : 0;
  }
  for (const Step& step : steps) {
    const uint64_t need = (uint64_t{32} << 20) + pixels * step.per_pixel;
    if ((step.effort < 7 || static_cast<int64_t>(pixels) <= kFullEffortUpTo) && need <= room) return {step.effort, need};
  }
  const Step& last = steps[std::size(steps) - 1];
  return {last.effort, (uint64_t{32} << 20) + pixels * last.per_pixel};
}

// mark: what libjxl printed from there on joins the reason.
[[noreturn]] void Fail(JxlEncoder* encoder, uint64_t mark) {
  const JxlEncoderError error = JxlEncoderGetError(encoder);
  const char* code = error == JXL_ENC_ERR_OOM             ? "JXL_ENC_ERR_OOM"
                     : error == JXL_ENC_ERR_BAD_INPUT     ? "JXL_ENC_ERR_BAD_INPUT"
                     : error == JXL_ENC_ERR_NOT_SUPPORTED ? "JXL_ENC_ERR_NOT_SUPPORTED"
                     : error == JXL_ENC_ERR_API_USAGE     ? "JXL_ENC_ERR_API_USAGE"
                                                          : "JXL_ENC_ERR_GENERIC";
  const std::string reason = error == JXL_ENC_ERR_OOM ? Tr("not enough memory") : Tr("the encoder failed");
  const std::string printed = platform::LibraryOutputSince(mark);
  throw Error(error == JXL_ENC_ERR_OOM ? ErrorKind::kTooLarge : ErrorKind::kInternal,
              WithLibraryText(Tr("Cannot write the JPEG XL image: {1}", {reason}), "libjxl",
                              printed.empty() ? code : std::string(code) + "; " + printed));
}

void EncodeJxl(const DibImage& image, const EncodeOptions& options, std::ostream& out) {
  const uint64_t mark = platform::LibraryOutputMark();
  JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
  if (!encoder) throw std::bad_alloc();
  JxlEncoder* enc = encoder.get();
  // Threads pay off from about a tile of 256 x 256 pixels on; an icon's
  // encode would mostly start and stop them.
  JxlThreadParallelRunnerPtr runner(nullptr);
  if (int64_t{image.Width()} * image.Height() >= (int64_t{1} << 16))
    runner = JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
  if (runner && JxlEncoderSetParallelRunner(enc, JxlThreadParallelRunner, runner.get()) != JXL_ENC_SUCCESS) Fail(enc, mark);

  const RgbaRows rows(image, options);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = static_cast<uint32_t>(rows.Width());
  info.ysize = static_cast<uint32_t>(rows.Height());
  info.bits_per_sample = 8;
  info.num_color_channels = 3;
  if (rows.Channels() == 4) {
    info.alpha_bits = 8;
    info.num_extra_channels = 1;
  }
  // Lossless keeps the samples as they are; lossy works in XYB.
  info.uses_original_profile = options.lossless ? JXL_TRUE : JXL_FALSE;
  if (JxlEncoderSetBasicInfo(enc, &info) != JXL_ENC_SUCCESS) Fail(enc, mark);
  const OutputExtras& extras = options.extras;
  if (extras.icc) {
    if (JxlEncoderSetICCProfile(enc, extras.icc->data(), extras.icc->size()) != JXL_ENC_SUCCESS) Fail(enc, mark);
  } else {
    JxlColorEncoding color;
    JxlColorEncodingSetToSRGB(&color, JXL_FALSE);
    if (JxlEncoderSetColorEncoding(enc, &color) != JXL_ENC_SUCCESS) Fail(enc, mark);
  }
  if (extras.exif || extras.xmp) {
    // Boxes beside the codestream: "Exif" starts with the offset of the
    // TIFF header within it.
    if (JxlEncoderUseBoxes(enc) != JXL_ENC_SUCCESS) Fail(enc, mark);
    if (extras.exif) {
      std::vector<uint8_t> box(4, 0);
      box.insert(box.end(), extras.exif->begin(), extras.exif->end());
      if (JxlEncoderAddBox(enc, "Exif", box.data(), box.size(), JXL_FALSE) != JXL_ENC_SUCCESS) Fail(enc, mark);
    }
    if (extras.xmp &&
        JxlEncoderAddBox(enc, "xml ", reinterpret_cast<const uint8_t*>(extras.xmp->data()), extras.xmp->size(),
                         JXL_FALSE) != JXL_ENC_SUCCESS)
      Fail(enc, mark);
    JxlEncoderCloseBoxes(enc);
  }
  JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(enc, nullptr);
  if (!frame) Fail(enc, mark);
  const int effort = PlanFor(image.Width(), image.Height(), image.BitCount(), options).effort;
  if (JxlEncoderFrameSettingsSetOption(frame, JXL_ENC_FRAME_SETTING_EFFORT, effort) != JXL_ENC_SUCCESS) Fail(enc, mark);
  const JxlEncoderStatus set = options.lossless ? JxlEncoderSetFrameLossless(frame, JXL_TRUE)
                                                : JxlEncoderSetFrameDistance(frame, JxlDistance(ScaledQuality(options.quality)));
  if (set != JXL_ENC_SUCCESS) Fail(enc, mark);
  {
    const std::vector<uint8_t> pixels = rows.Whole();
    const JxlPixelFormat format{static_cast<uint32_t>(rows.Channels()), JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(frame, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS) Fail(enc, mark);
  }
  JxlEncoderCloseInput(enc);
  std::vector<uint8_t> buffer(1 << 16);
  for (;;) {
    uint8_t* next = buffer.data();
    size_t room = buffer.size();
    const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &room);
    out.write(reinterpret_cast<const char*>(buffer.data()), next - buffer.data());
    if (status == JXL_ENC_SUCCESS) return;
    if (status != JXL_ENC_NEED_MORE_OUTPUT) Fail(enc, mark);
  }
}

}  // namespace

const OutputFormat& JxlOutput() {
  static const OutputFormat format{
      .extension = "jxl",
      .name = "JPEG XL",
      .takes_quality = true,
      .takes_transparency = true,
      .takes_lossless = true,
      .picks_colour = true,
      .holds_icc = true,
      .holds_exif = true,
      .holds_alpha = true,
      .encode = EncodeJxl,
      .memory = [](int64_t width, int64_t height, int bits, const EncodeOptions& options) -> uint64_t {
        return PlanFor(width, height, bits, options).memory;
      },
  };
  return format;
}

}  // namespace velmora
