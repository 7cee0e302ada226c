// HEIF input on libheif (heic, heif, avif): the primary picture, with the
// file's rotation and mirroring applied (HEIF records orientation in those
// transforms, which take precedence over an EXIF tag by the format's rules),
// alpha composited over white.
#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "formats/heif/heif_boxes.h"
#include "image/color_profile.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("HEIF image error");

bool RecognisesHeif(const uint8_t* data, size_t size) {
  if (size < 12 || std::memcmp(data + 4, "ftyp", 4) != 0) return false;
  const heif_filetype_result kind = heif_check_filetype(data, static_cast<int>(std::min<size_t>(size, 4096)));
  return kind == heif_filetype_yes_supported || kind == heif_filetype_yes_unsupported;
}

struct ContextDeleter {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleDeleter {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsDeleter {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

class HeifGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "HeifGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (!RecognisesHeif(data, size)) in.Invalid(Tr("not a HEIF or AVIF file"));
    std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context) throw std::bad_alloc();
    heif_context_set_maximum_image_size_limit(
        context.get(), static_cast<int>(std::min<int64_t>(Limits().max_side, 1 << 30)));
    Check(heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr), in);
    heif_image_handle* raw_handle = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &raw_handle), in);
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(raw_handle);
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    // HEVC and AV1 reach a few thousand pixels a byte on flat pictures.
    ClaimSize(width, height, size, 8192.0, kWho);
    CheckAllocation(Limits(), int64_t{width} * height * 4, kWho);
    // What the decoders would be told to build may be no larger than the
    // picture the file declares, before any crop or rotation: a grid's or an
    // overlay's canvas, and a coded HEVC picture (which rounds up to whole
    // coding blocks, at most 64 pixels). libheif 1.15 checks neither.
    const int ispe_width = heif_image_handle_get_ispe_width(handle.get());
    const int ispe_height = heif_image_handle_get_ispe_height(handle.get());
    if (ispe_width > 0 && ispe_height > 0) ClaimSize(ispe_width, ispe_height, kWho);
    const uint32_t declared_width = static_cast<uint32_t>(ispe_width > 0 ? ispe_width : width);
    const uint32_t declared_height = static_cast<uint32_t>(ispe_height > 0 ? ispe_height : height);
    auto check = [&](const CodedSize& built, uint32_t slack) {
      // Either way round: a rotation may stand between the two.
      const uint32_t w = declared_width + slack, h = declared_height + slack;
      if ((built.width <= w && built.height <= h) || (built.width <= h && built.height <= w)) return;
      throw Error(ErrorKind::kTooLarge, Tr("{1}: the file asks its decoder for {2} x {3} pixels, more than the {4} x {5} it declares",
                                  {Tr(kWho), std::to_string(built.width), std::to_string(built.height),
                                   std::to_string(declared_width), std::to_string(declared_height)}));
    };
    for (const CodedSize& canvas : DerivedCanvasSizes(data, size)) check(canvas, 0);
    for (const CodedSize& coded : HevcConfigSizes(data, size)) check(coded, 64);
    // A coded HEVC picture may round up by as much as a coding block: a small
    // picture is coded as one 64 x 64 block.
    heif_context_set_maximum_image_size_limit(
        context.get(), static_cast<int>(std::max(declared_width, declared_height)) + 64 + 1);
    KeepCarried(handle.get());
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get());
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    heif_image* raw_image = nullptr;
    Check(heif_decode_image(handle.get(), &raw_image, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get()),
          in);
    std::unique_ptr<heif_image, ImageDeleter> image(raw_image);
    int stride = 0;
    const uint8_t* pixels = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || w <= 0 || h <= 0) in.Invalid(Tr("the decoder returned no picture"));
    const int step = alpha ? 4 : 3;
    Bitmap out(w, h, Bitmap::Format::k24Bit);
    if (alpha) StartAlpha(w, h);
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = pixels + static_cast<size_t>(stride) * y;
      uint8_t* d = out.Row(y);
      uint8_t* kept = AlphaRow(y);
      for (int x = 0; x < w; ++x, s += step)
        PutPixel(d + x * 3, kept ? kept + x * 4 : nullptr, s[2], s[1], s[0], alpha ? s[3] : 255);
    }
    bitmap_ = std::move(out);
  }

 private:
  // Coded colour that the one rule does not take as sRGB: a plain gamma
  // (2.2, 2.8, linear) or primaries other than sRGB's, described by a
  // profile. The curves of the video standards (BT.709, BT.601, BT.2020)
  // are shown as sRGB, as every viewer shows them; PQ and HLG need tone
  // mapping, not a profile, and are shown as they are too.
  void KeepStatedColour(const heif_image_handle* handle) {
    heif_color_profile_nclx* raw = nullptr;
    const heif_error got = heif_image_handle_get_nclx_color_profile(handle, &raw);
    // libheif may hand over a profile with its error (an nclx box it could
    // not read whole): it is ours to free either way.
    const std::unique_ptr<heif_color_profile_nclx, void (*)(heif_color_profile_nclx*)> owned(raw, heif_nclx_color_profile_free);
    const heif_color_profile_nclx* nclx = owned.get();
    if (got.code != heif_error_Ok || !nclx) return;
    StatedColour stated;
    bool plain = true;
    switch (nclx->transfer_characteristics) {
      case heif_transfer_characteristic_ITU_R_BT_470_6_System_M: stated.gamma = 1 / 2.2; break;
      case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G: stated.gamma = 1 / 2.8; break;
      case heif_transfer_characteristic_linear: stated.gamma = 1.0; break;
      case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
      case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG: plain = false; break;
      default: break;  // sRGB's curve, or one shown as it
    }
    if (nclx->color_primaries != heif_color_primaries_ITU_R_BT_709_5 &&
        nclx->color_primaries != heif_color_primaries_unspecified)
      stated.primaries = {nclx->color_primary_red_x,   nclx->color_primary_red_y,  nclx->color_primary_green_x,
                          nclx->color_primary_green_y, nclx->color_primary_blue_x, nclx->color_primary_blue_y,
                          nclx->color_primary_white_x, nclx->color_primary_white_y};
    if (!plain) return;
    IccBytes icc = ProfileFor(stated);
    if (!icc.empty()) embedded_.icc = std::move(icc);
  }

  // The raw ICC profile, and the EXIF and XMP items of the primary picture.
  void KeepCarried(const heif_image_handle* handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
      const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
      if (CarrySize(Packet::kIcc, size)) {
        std::vector<uint8_t> icc(size);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
          embedded_.icc = std::move(icc);
      }
    } else if (type == heif_color_profile_type_nclx) {
      KeepStatedColour(handle);
    }
    if (!Wants(Packet::kExif) && !Wants(Packet::kXmp)) return;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(static_cast<size_t>(std::max(count, 0)));
    heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (heif_item_id id : ids) {
      const char* type_text = heif_image_handle_get_metadata_type(handle, id);
      const char* content_text = heif_image_handle_get_metadata_content_type(handle, id);
      const std::string kind = type_text ? type_text : "", content = content_text ? content_text : "";
      const bool exif = kind == "Exif", xmp = kind == "mime" && content == "application/rdf+xml";
      const size_t size = heif_image_handle_get_metadata_size(handle, id);
      // The EXIF block has a word of its own in front.
      if (!(exif && size > 4 && CarrySize(Packet::kExif, size - 4)) && !(xmp && CarrySize(Packet::kXmp, size))) continue;
      std::vector<uint8_t> block(size);
      if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) continue;
      if (exif) {
        // The block starts with the offset of the TIFF header within it.
        const uint32_t offset = (uint32_t{block[0]} << 24) | (block[1] << 16) | (block[2] << 8) | block[3];
        if (offset < size - 4) Carry(Packet::kExif, block.data() + 4 + offset, size - 4 - offset);
      } else {
        Carry(Packet::kXmp, block.data(), size);
      }
    }
  }

  static void Check(const heif_error& error, const ByteReader& in) {
    if (error.code == heif_error_Ok) return;
    std::string what = error.message ? error.message : "unknown error";
    // libheif ends some messages with a line break of its own.
    while (!what.empty() && (what.back() == '\n' || what.back() == ' ')) what.pop_back();
    if (error.code == heif_error_Unsupported_feature || error.code == heif_error_Unsupported_filetype)
      in.Unsupported(WithLibraryText(Tr("a variant this program does not read"), "libheif", what));
    if (error.code == heif_error_Memory_allocation_error)
      throw Error(ErrorKind::kTooLarge,
                        std::string(Tr(kWho)) + ": " + WithLibraryText(Tr("the picture is too large"), "libheif", what));
    in.Invalid(WithLibraryText(Tr("the data cannot be read"), "libheif", what));
  }
};

}  // namespace

const GraphicClass& HeifClass() {
  static const GraphicClass cls{"HeifGraphic", [] { return std::make_unique<HeifGraphic>(); }, RecognisesHeif};
  return cls;
}

const InputFormat& HeifFormat() {
  static const InputFormat format{
      "HEIF",
      {{Registration::kSideFormat, HeifClass, "heic", N_("HEIF images"), N_("High efficiency images")},
        {Registration::kSideFormat, HeifClass, "heif", N_("HEIF images"), N_("High efficiency images")},
        {Registration::kSideFormat, HeifClass, "avif", N_("HEIF images"), N_("AV1 images")}},
      RecognisesHeif,
      true,
      false,
      {"image/heic", "image/heif", "image/avif"}};
  return format;
}

}  // namespace velmora
