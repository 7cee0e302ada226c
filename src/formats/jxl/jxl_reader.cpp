// JPEG XL input on libjxl: the first frame as the file shows it (an
// animation's frames are composed onto its canvas), turned upright as the
// codestream's orientation says, alpha composited over white. Both a bare
// codestream and the ISO container are read.
#include <jxl/decode.h>
#include <jxl/color_encoding.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>

#include <cstring>
#include <vector>

#include "base/messages.h"
#include "formats/byte_reader.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("JPEG XL image error");

bool RecognisesJxl(const uint8_t* data, size_t size) {
  static const uint8_t kContainer[12] = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (size >= 12 && std::memcmp(data, kContainer, 12) == 0) return true;
  // A bare codestream: its marker, and room for the smallest size header.
  return size >= 3 && data[0] == 0xFF && data[1] == 0x0A;
}

class JxlGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "JxlGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (!RecognisesJxl(data, size)) in.Invalid(Tr("not a JPEG XL file"));
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder) throw std::bad_alloc();
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (runner) JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get());
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
      in.Invalid(Tr("the file cannot be decoded"));
    // The input is left open: a file that ends early then asks for more
    // instead of failing like a damaged one.
    // Associated alpha comes back straight, so that it composites as any other.
    JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE);

    JxlBasicInfo info{};
    JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    for (;;) {
      const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
      if (status == JXL_DEC_ERROR) in.Invalid(Tr("the picture data is damaged or incomplete"));
      if (status == JXL_DEC_NEED_MORE_INPUT) in.Truncated();
      if (status == JXL_DEC_SUCCESS) in.Invalid(Tr("the file holds no picture"));
      if (status == JXL_DEC_BASIC_INFO) {
        if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
          in.Invalid(Tr("the file cannot be decoded"));
        // Every 256 x 256 group has an entry of at least 12 bits in its
        // frame's table of contents, however flat the group is.
        ClaimSize(info.xsize, info.ysize, size, 65536.0, kWho);
        CheckAllocation(Limits(), int64_t{info.xsize} * info.ysize * 4, kWho);
        format.num_channels = info.alpha_bits > 0 ? 4 : 3;
        // Orientations 5 to 8 turn the picture a quarter.
        const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
        width = static_cast<int>(turned ? info.ysize : info.xsize);
        height = static_cast<int>(turned ? info.xsize : info.ysize);
      } else if (status == JXL_DEC_COLOR_ENCODING) {
        // A lossy picture is coded in XYB: libjxl makes its sRGB itself. A
        // lossless one comes out as stored, with its profile.
        if (info.uses_original_profile) {
          KeepProfile(decoder.get(), format);
        } else {
          JxlColorEncoding srgb;
          JxlColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
          JxlDecoderSetPreferredColorProfile(decoder.get(), &srgb);
        }
      } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
        size_t bytes = 0;
        if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS ||
            bytes != static_cast<size_t>(width) * static_cast<size_t>(height) * format.num_channels)
          in.Invalid(Tr("the file cannot be decoded"));
        pixels.resize(bytes);
        if (JxlDecoderSetImageOutBuffer(decoder.get(), &format, pixels.data(), pixels.size()) != JXL_DEC_SUCCESS)
          in.Invalid(Tr("the file cannot be decoded"));
      } else if (status == JXL_DEC_FULL_IMAGE) {
        break;  // the first frame is the picture
      }
    }
    if (pixels.empty()) in.Invalid(Tr("the file holds no picture"));
    const int step = static_cast<int>(format.num_channels);
    Bitmap out(width, height, Bitmap::Format::k24Bit);
    if (step == 4) StartAlpha(width, height);
    for (int y = 0; y < height; ++y) {
      const uint8_t* s = pixels.data() + static_cast<size_t>(width) * step * y;
      uint8_t* d = out.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < width; ++x, s += step)
        PutPixel(d + x * 3, kept ? kept + x * 4 : nullptr, s[2], s[1], s[0], step == 4 ? s[3] : 255);
    }
    bitmap_ = std::move(out);
  }

 private:
  // The profile of the pixels as they are handed out (an XYB picture's come
  // out in its original space when that is representable, else in sRGB).
  void KeepProfile(const JxlDecoder* decoder, const JxlPixelFormat& format) {
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, &format, JXL_COLOR_PROFILE_TARGET_DATA, &size) != JXL_DEC_SUCCESS ||
        !CarrySize(Packet::kIcc, size))
      return;
    std::vector<uint8_t> icc(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, &format, JXL_COLOR_PROFILE_TARGET_DATA, icc.data(), size) ==
        JXL_DEC_SUCCESS)
      embedded_.icc = std::move(icc);
  }
};

}  // namespace

const GraphicClass& JxlClass() {
  static const GraphicClass cls{"JxlGraphic", [] { return std::make_unique<JxlGraphic>(); }, RecognisesJxl};
  return cls;
}

const InputFormat& JxlFormat() {
  static const InputFormat format{
      "JPEG XL",
      {{Registration::kSideFormat, JxlClass, "jxl", N_("JPEG XL images")}},
      RecognisesJxl,
      true,
      false,
      {"image/jxl"}};
  return format;
}

}  // namespace velmora
