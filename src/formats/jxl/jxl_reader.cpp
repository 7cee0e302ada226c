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

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/messages.h"
#include "formats/byte_reader.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/color_profile.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("JPEG XL image error");

// A coded colour of a plain gamma that the one rule takes as sRGB.
bool GammaMeaningSrgb(const JxlColorEncoding& e) {
  if (e.transfer_function != JXL_TRANSFER_FUNCTION_GAMMA ||
      (e.color_space != JXL_COLOR_SPACE_RGB && e.color_space != JXL_COLOR_SPACE_GRAY))
    return false;
  StatedColour stated;
  stated.gamma = e.gamma;
  double* p = stated.primaries.data();
  if (e.white_point == JXL_WHITE_POINT_D65) {
    p[6] = 0.3127, p[7] = 0.3290;
  } else if (e.white_point == JXL_WHITE_POINT_CUSTOM) {
    p[6] = e.white_point_xy[0], p[7] = e.white_point_xy[1];
  } else {
    return false;
  }
  if (e.color_space == JXL_COLOR_SPACE_GRAY || e.primaries == JXL_PRIMARIES_SRGB) {
    const double srgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    std::copy(srgb, srgb + 6, p);
  } else if (e.primaries == JXL_PRIMARIES_CUSTOM) {
    const double* xy[3] = {e.primaries_red_xy, e.primaries_green_xy, e.primaries_blue_xy};
    for (int i = 0; i < 3; ++i) p[2 * i] = xy[i][0], p[2 * i + 1] = xy[i][1];
  } else {
    return false;
  }
  return MeansSrgb(stated);
}

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
        // A gamma of 1/2.2 with sRGB's primaries is sRGB as every reader
        // takes it (ImageMagick writes it, cjxl codes it as it finds it):
        // the values come out in it, as stored or from XYB, and stay.
        JxlColorEncoding original;
        if (JxlDecoderGetColorAsEncodedProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL, &original) ==
                JXL_DEC_SUCCESS &&
            GammaMeaningSrgb(original)) {
          if (!info.uses_original_profile) JxlDecoderSetPreferredColorProfile(decoder.get(), &original);
        } else if (info.uses_original_profile) {
          // A lossless picture comes out as stored, with its profile; a
          // lossy one is coded in XYB, and libjxl makes its sRGB itself.
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
