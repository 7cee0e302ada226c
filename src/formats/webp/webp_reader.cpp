// WebP input on libwebp: a still picture, or the first frame of an animation
// as the canvas shows it; alpha composited over white; turned upright as its
// EXIF orientation says.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/exif.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"
#include "image/orientation.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("WebP image error");

bool RecognisesWebp(const uint8_t* data, size_t size) {
  return size >= 16 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0;
}

struct DemuxDeleter {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter {
  void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};
struct FreeDeleter {
  void operator()(uint8_t* p) const { WebPFree(p); }
};

class WebpGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "WebpGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (!RecognisesWebp(data, size)) in.Invalid(Tr("not a WebP file"));
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data, size, &features);
    if (status == VP8_STATUS_NOT_ENOUGH_DATA) in.Truncated();
    if (status != VP8_STATUS_OK) in.Invalid(Tr("the file cannot be decoded"));
    // Lossless WebP reaches about a thousand pixels a byte on flat areas.
    ClaimSize(features.width, features.height, size, 1024.0, kWho);
    CheckAllocation(Limits(), int64_t{features.width} * features.height * 4, kWho);

    const WebPData whole{data, size};
    std::unique_ptr<uint8_t, FreeDeleter> owned;
    const uint8_t* rgba = nullptr;
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> anim;
    int width = features.width, height = features.height;
    if (features.has_animation) {
      WebPAnimDecoderOptions options;
      WebPAnimDecoderOptionsInit(&options);
      options.color_mode = MODE_RGBA;
      options.use_threads = 0;
      anim.reset(WebPAnimDecoderNew(&whole, &options));
      if (!anim) in.Invalid(Tr("the animation is damaged or incomplete"));
      WebPAnimInfo info;
      if (!WebPAnimDecoderGetInfo(anim.get(), &info)) in.Invalid(Tr("the animation is damaged or incomplete"));
      ClaimSize(info.canvas_width, info.canvas_height, size, 1024.0, kWho);
      uint8_t* frame = nullptr;
      int timestamp = 0;
      if (!WebPAnimDecoderGetNext(anim.get(), &frame, &timestamp)) in.Invalid(Tr("the first frame cannot be decoded"));
      rgba = frame;
      width = static_cast<int>(info.canvas_width);
      height = static_cast<int>(info.canvas_height);
    } else {
      owned.reset(WebPDecodeRGBA(data, size, &width, &height));
      if (!owned) in.Invalid(Tr("the picture data is damaged or incomplete"));
      rgba = owned.get();
    }

    Bitmap out(width, height, Bitmap::Format::k24Bit);
    if (features.has_alpha) StartAlpha(width, height);
    for (int y = 0; y < height; ++y) {
      const uint8_t* s = rgba + size_t(width) * 4 * y;
      uint8_t* d = out.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < width; ++x, s += 4) PutPixel(d + x * 3, kept ? kept + x * 4 : nullptr, s[2], s[1], s[0], s[3]);
    }
    // The orientation lives in an EXIF chunk; a file whose chunks cannot be
    // listed simply has none.
    int orientation = 1;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
    // What the file carries: EXIF (its orientation read here), XMP, profile.
    for (const char* fourcc : {"EXIF", "XMP ", "ICCP"}) {
      WebPChunkIterator chunk;
      if (!demux || !WebPDemuxGetChunk(demux.get(), fourcc, 1, &chunk)) continue;
      const uint8_t* bytes = chunk.chunk.bytes;
      const size_t length = chunk.chunk.size;
      if (fourcc[0] == 'E') {
        // Some writers keep JPEG's "Exif\0\0" before the TIFF block.
        const size_t skip = length > 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0 ? 6 : 0;
        orientation = ExifOrientation(bytes + skip, length - skip);
        Carry(Packet::kExif, bytes + skip, length - skip);
      } else {
        Carry(fourcc[0] == 'X' ? Packet::kXmp : Packet::kIcc, bytes, length);
      }
      WebPDemuxReleaseChunkIterator(&chunk);
    }
    bitmap_ = Oriented(out, orientation);
    if (!alpha_.Empty()) alpha_ = Oriented(alpha_, orientation);
  }
};

}  // namespace

const GraphicClass& WebpClass() {
  static const GraphicClass cls{"WebpGraphic", [] { return std::make_unique<WebpGraphic>(); }, RecognisesWebp};
  return cls;
}

const InputFormat& WebpFormat() {
  static const InputFormat format{
      "WebP",
      {{Registration::kSideFormat, WebpClass, "webp", N_("WebP images")}},
      RecognisesWebp,
      true,
      false,
      {"image/webp"}};
  return format;
}

}  // namespace velmora
