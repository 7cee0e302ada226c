// AVIF output on libheif and the AV1 encoder it carries, lossy at the
// quality bar's place on libheif's scale, with libheif's defaults for the
// rest (4:2:0, sRGB) as heif-enc makes them. A transparent colour becomes an
// alpha plane.
#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "base/error.h"
#include "base/messages.h"
#include "formats/output_format.h"
#include "platform/library_output.h"
#include "formats/rgba_rows.h"
#include "image/dib_image.h"

namespace velmora {
namespace {

// What libheif and its encoder printed since mark joins the reason.
void Check(const heif_error& error, uint64_t mark) {
  if (error.code == heif_error_Ok) return;
  std::string text = error.message ? error.message : "";
  const std::string printed = platform::LibraryOutputSince(mark);
  if (!printed.empty()) text += (text.empty() ? "" : "; ") + printed;
  throw Error(error.code == heif_error_Memory_allocation_error ? ErrorKind::kTooLarge : ErrorKind::kInternal,
              WithLibraryText(Tr("Cannot write the AVIF image"), "libheif", text));
}

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct EncoderFree {
  void operator()(heif_encoder* e) const { heif_encoder_release(e); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};

heif_error WriteToStream(heif_context*, const void* data, size_t size, void* userdata) {
  auto& out = *static_cast<std::ostream*>(userdata);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  if (out.good()) return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
  return heif_error{heif_error_Encoding_error, heif_suberror_Cannot_write_output_data, "the output could not be written"};
}

void EncodeAvif(const DibImage& image, const EncodeOptions& options, std::ostream& out) {
  const uint64_t mark = platform::LibraryOutputMark();
  std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
  if (!context) throw std::bad_alloc();
  heif_encoder* raw_encoder = nullptr;
  const heif_error found = heif_context_get_encoder_for_format(context.get(), heif_compression_AV1, &raw_encoder);
  if (found.code != heif_error_Ok || !raw_encoder)
    throw Error(ErrorKind::kInternal, WithLibraryText(Tr("Cannot write the AVIF image: this system's libheif has no AV1 encoder"),
                                         "libheif", found.message ? found.message : ""));
  std::unique_ptr<heif_encoder, EncoderFree> encoder(raw_encoder);
  Check(heif_encoder_set_lossy_quality(encoder.get(), ScaledQuality(options.quality)), mark);

  const RgbaRows rows(image, options);
  heif_image* raw_image = nullptr;
  Check(heif_image_create(rows.Width(), rows.Height(), heif_colorspace_RGB,
                          rows.Channels() == 4 ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &raw_image),
        mark);
  std::unique_ptr<heif_image, ImageFree> picture(raw_image);
  Check(heif_image_add_plane(picture.get(), heif_channel_interleaved, rows.Width(), rows.Height(), 8), mark);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(picture.get(), heif_channel_interleaved, &stride);
  if (!plane || stride < static_cast<int>(rows.Stride())) throw std::bad_alloc();
  for (int y = 0; y < rows.Height(); ++y) rows.Row(y, plane + static_cast<size_t>(stride) * static_cast<size_t>(y));
  const OutputExtras& extras = options.extras;
  if (extras.icc) Check(heif_image_set_raw_color_profile(picture.get(), "prof", extras.icc->data(), extras.icc->size()), mark);

  heif_image_handle* raw_handle = nullptr;
  Check(heif_context_encode_image(context.get(), picture.get(), encoder.get(), nullptr, &raw_handle), mark);
  std::unique_ptr<heif_image_handle, HandleFree> handle(raw_handle);
  if (extras.exif)
    Check(heif_context_add_exif_metadata(context.get(), handle.get(), extras.exif->data(), static_cast<int>(extras.exif->size())), mark);
  if (extras.xmp)
    Check(heif_context_add_XMP_metadata(context.get(), handle.get(), extras.xmp->data(), static_cast<int>(extras.xmp->size())), mark);
  heif_writer writer{1, WriteToStream};
  Check(heif_context_write(context.get(), &writer, &out), mark);
}

}  // namespace

const OutputFormat& AvifOutput() {
  static const OutputFormat format{
      .extension = "avif",
      .name = "AVIF",
      .takes_quality = true,
      .takes_transparency = true,
      .picks_colour = true,
      .holds_icc = true,
      .holds_exif = true,
      .holds_alpha = true,
      .encode = EncodeAvif,
      // libheif's planes and the AV1 encoder's frames, measured on noise.
      .memory = [](int64_t width, int64_t height, int, const EncodeOptions&) -> uint64_t {
        return (uint64_t{16} << 20) + static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 22;
      },
  };
  return format;
}

}  // namespace velmora
