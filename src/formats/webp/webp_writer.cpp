// WebP output on libwebp. Lossy by default, at the quality bar's place on
// libwebp's scale; lossless when asked, then as cwebp -lossless makes it
// (effort 75, method 4) and with the colour under transparent pixels kept.
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>
#include <ostream>
#include <string>

#include "base/error.h"
#include "base/messages.h"
#include "formats/output_format.h"
#include "formats/rgba_rows.h"
#include "image/dib_image.h"

namespace velmora {
namespace {

[[noreturn]] void Fail(const std::string& reason, const char* code) {
  throw Error(ErrorKind::kInternal, WithLibraryText(Tr("Cannot write the WebP image: {1}", {reason}), "libwebp", code));
}

[[noreturn]] void FailWith(WebPEncodingError error) {
  switch (error) {
    case VP8_ENC_ERROR_OUT_OF_MEMORY: Fail(Tr("not enough memory"), "VP8_ENC_ERROR_OUT_OF_MEMORY");
    case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: Fail(Tr("not enough memory"), "VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY");
    case VP8_ENC_ERROR_BAD_DIMENSION:
      Fail(Tr("the picture is larger than WebP allows ({1} x {1} pixels)", {std::to_string(WEBP_MAX_DIMENSION)}),
           "VP8_ENC_ERROR_BAD_DIMENSION");
    case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
      Fail(Tr("the picture is too detailed for WebP at this quality"), "VP8_ENC_ERROR_PARTITION0_OVERFLOW");
    case VP8_ENC_ERROR_PARTITION_OVERFLOW:
      Fail(Tr("the picture is too detailed for WebP at this quality"), "VP8_ENC_ERROR_PARTITION_OVERFLOW");
    case VP8_ENC_ERROR_BAD_WRITE: Fail(Tr("the output could not be written"), "VP8_ENC_ERROR_BAD_WRITE");
    case VP8_ENC_ERROR_FILE_TOO_BIG: Fail(Tr("the file would be larger than WebP allows (4 GiB)"), "VP8_ENC_ERROR_FILE_TOO_BIG");
    default: Fail(Tr("the encoder failed"), ("error " + std::to_string(static_cast<int>(error))).c_str());
  }
}

struct PictureFree {
  void operator()(WebPPicture* p) const { WebPPictureFree(p); }
};
struct MemoryFree {
  void operator()(WebPMemoryWriter* w) const { WebPMemoryWriterClear(w); }
};
struct MuxDelete {
  void operator()(WebPMux* m) const { WebPMuxDelete(m); }
};
struct DataClear {
  void operator()(WebPData* d) const { WebPDataClear(d); }
};

// The encoded file with the profile, EXIF and XMP chunks added by libwebp's
// own muxer (which also writes the extended header they need).
void WriteWithChunks(const WebPMemoryWriter& encoded, const OutputExtras& extras, std::ostream& out) {
  const WebPData image{encoded.mem, encoded.size};
  std::unique_ptr<WebPMux, MuxDelete> mux(WebPMuxCreate(&image, 0));
  if (!mux) FailWith(VP8_ENC_ERROR_OUT_OF_MEMORY);
  auto set = [&](const char* fourcc, const uint8_t* data, size_t size) {
    const WebPData chunk{data, size};
    if (WebPMuxSetChunk(mux.get(), fourcc, &chunk, 1) != WEBP_MUX_OK) FailWith(VP8_ENC_ERROR_OUT_OF_MEMORY);
  };
  if (extras.icc) set("ICCP", extras.icc->data(), extras.icc->size());
  if (extras.exif) set("EXIF", extras.exif->data(), extras.exif->size());
  if (extras.xmp) set("XMP ", reinterpret_cast<const uint8_t*>(extras.xmp->data()), extras.xmp->size());
  WebPData assembled;
  WebPDataInit(&assembled);
  std::unique_ptr<WebPData, DataClear> owned(&assembled);
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) FailWith(VP8_ENC_ERROR_OUT_OF_MEMORY);
  out.write(reinterpret_cast<const char*>(assembled.bytes), static_cast<std::streamsize>(assembled.size));
}

// libwebp hands the file over in pieces; a failing stream stops it.
int WriteToStream(const uint8_t* data, size_t size, const WebPPicture* picture) {
  auto& out = *static_cast<std::ostream*>(picture->custom_ptr);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return out.good() ? 1 : 0;
}

void EncodeWebp(const DibImage& image, const EncodeOptions& options, std::ostream& out) {
  // Refused before the pixels are copied for it.
  if (image.Width() > WEBP_MAX_DIMENSION || image.Height() > WEBP_MAX_DIMENSION) FailWith(VP8_ENC_ERROR_BAD_DIMENSION);
  WebPConfig config;
  if (!WebPConfigInit(&config)) FailWith(VP8_ENC_ERROR_INVALID_CONFIGURATION);
  if (options.lossless) {
    config.lossless = 1;
    config.exact = 1;
  } else {
    config.quality = static_cast<float>(ScaledQuality(options.quality));
  }
  const RgbaRows rows(image, options);
  const std::vector<uint8_t> pixels = rows.Whole();
  WebPPicture picture;
  if (!WebPPictureInit(&picture)) FailWith(VP8_ENC_ERROR_INVALID_CONFIGURATION);
  picture.width = rows.Width();
  picture.height = rows.Height();
  picture.use_argb = options.lossless ? 1 : 0;
  std::unique_ptr<WebPPicture, PictureFree> owner(&picture);
  const int stride = static_cast<int>(rows.Stride());
  const int imported = rows.Channels() == 4 ? WebPPictureImportRGBA(&picture, pixels.data(), stride)
                                            : WebPPictureImportRGB(&picture, pixels.data(), stride);
  if (!imported) FailWith(picture.error_code != VP8_ENC_OK ? picture.error_code : VP8_ENC_ERROR_OUT_OF_MEMORY);
  if (!options.extras.Any()) {
    picture.writer = WriteToStream;
    picture.custom_ptr = &out;
    if (!WebPEncode(&config, &picture)) FailWith(picture.error_code);
    return;
  }
  WebPMemoryWriter memory;
  WebPMemoryWriterInit(&memory);
  std::unique_ptr<WebPMemoryWriter, MemoryFree> held(&memory);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &memory;
  if (!WebPEncode(&config, &picture)) FailWith(picture.error_code);
  WriteWithChunks(memory, options.extras, out);
}

}  // namespace

const OutputFormat& WebpOutput() {
  static const OutputFormat format{
      .extension = "webp",
      .name = "WebP",
      .takes_quality = true,
      .takes_transparency = true,
      .takes_lossless = true,
      .picks_colour = true,
      .holds_icc = true,
      .holds_exif = true,
      .holds_alpha = true,
      .encode = EncodeWebp,
      // libwebp's own planes and analysis, measured on noise.
      .memory = [](int64_t width, int64_t height, int, const EncodeOptions& options) -> uint64_t {
        return kEncoderBuffers + static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * (options.lossless ? 24 : 14);
      },
  };
  return format;
}

}  // namespace velmora
