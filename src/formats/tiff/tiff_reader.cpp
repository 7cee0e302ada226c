// TIFF input on libtiff (the first page), recognised by its byte-order mark.
// libtiff's RGBA reader covers strips and tiles, every bit depth, palette,
// CMYK and YCbCr; alpha is composited over white.
#include <algorithm>
#include <cstring>
#include <istream>
#include <iterator>
#include <memory>
#include <vector>

#include "base/messages.h"
#include "image/color_profile.h"
#include "image/limits.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "formats/exif.h"
#include "formats/tiff/tiff_private.h"

namespace velmora {
namespace {

bool RecognisesTiff(const uint8_t* head, size_t size) {
  if (size < 4) return false;
  return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

// The most pixels one byte of the file can describe, by the densest packing
// of its compression: a bound that lets a claimed size be weighed against
// the file before anything is allocated for it.
double PixelsPerByte(TIFF* tif, uint32_t width) {
  uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  const double pixel_bits = std::max(1, bits * samples);
  switch (compression) {
    case COMPRESSION_NONE:
      return 8.0 / pixel_bits;
    case COMPRESSION_PACKBITS:  // 128 bytes in two
      return 64.0 * 8 / pixel_bits;
    case COMPRESSION_LZW:  // 4096 bytes in a 12-bit code
      return 4096.0 * 8 / 12 * 8 / pixel_bits;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return 1032.0 * 8 / pixel_bits;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:  // a bit for every 8 x 8 block
      return 64.0 * 8;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:  // a row the same as the one before in a bit
      return 8.0 * std::max<uint32_t>(width, 1);
    default:
      return 65536.0 * 8 / pixel_bits;
  }
}

class TiffGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "TiffGraphic"; }

 private:
  // EXIF, XMP and IPTC of the first directory, each within its limit.
  void KeepMetadata(const uint8_t* data, size_t size) {
    if (Wants(Packet::kExif)) {
      uint64_t needed = 0;
      const std::vector<uint8_t> exif = ExifFromTiff(data, size, kMaxExifBytes, &needed);
      if (exif.empty())
        CarrySize(Packet::kExif, needed);
      else
        Carry(Packet::kExif, exif.data(), exif.size());
    }
    uint64_t length = 0;
    if (Wants(Packet::kXmp))
      if (const uint8_t* xmp = TiffTagBytes(data, size, TIFFTAG_XMLPACKET, &length)) Carry(Packet::kXmp, xmp, length);
    if (Wants(Packet::kIptc))
      if (const uint8_t* iptc = TiffTagBytes(data, size, TIFFTAG_RICHTIFFIPTC, &length)) Carry(Packet::kIptc, iptc, length);
    if (Wants(Packet::kIptc))
      if (const uint8_t* resources = TiffTagBytes(data, size, TIFFTAG_PHOTOSHOP, &length))
        ForEachPhotoshopResource(resources, length, [this](uint16_t id, const uint8_t* bytes, size_t n) {
          if (id == kPhotoshopIptc) Carry(Packet::kIptc, bytes, n);
        });
  }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    tiff::MemoryFile memory{data, size};
    // What the file carries beyond its limit is left out before libtiff,
    // which copies every tag it knows when it reads the directory, sees it.
    for (const auto& [tag, limit] : {std::pair{TIFFTAG_XMLPACKET, kMaxXmpBytes}, std::pair{TIFFTAG_RICHTIFFIPTC, kMaxIptcBytes},
                                      std::pair{TIFFTAG_PHOTOSHOP, kMaxXmpBytes}, std::pair{TIFFTAG_ICCPROFILE, kMaxIccBytes}}) {
      uint64_t length = 0, entry = 0;
      if (!TiffTagBytes(data, size, static_cast<uint16_t>(tag), &length, &entry) || length <= limit) continue;
      // Type 0 is no type: libtiff warns and ignores the tag.
      memory.patches.emplace_back(entry + 2, 0);
      memory.patches.emplace_back(entry + 3, 0);
      if (tag == TIFFTAG_ICCPROFILE) CarrySize(Packet::kIcc, length);  // says it is left out
    }
    tiff::Diagnostics diagnostics;
    tiff::Handle tif = tiff::Open("r", memory, diagnostics, Limits().max_allocation);
    if (!tif)
      throw Error(ErrorKind::kInvalidData,
                        Tr("TIFF image error: {1}", {diagnostics.Quoted(Tr("not a readable TIFF file"))}));
    uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    ClaimSize(width, height, size, PixelsPerByte(tif.get(), width), N_("TIFF image"));
    uint32_t icc_size = 0;
    const uint8_t* icc = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &icc_size, &icc) && icc && icc_size > 0)
      Carry(Packet::kIcc, icc, icc_size);
    else
      KeepStatedColour(tif.get());
    KeepMetadata(data, size);
    if (ReadCmyk(tif.get(), width, height, diagnostics)) return;
    char reason[1024] = {};
    TIFFRGBAImage image{};
    if (!TIFFRGBAImageOK(tif.get(), reason) || !TIFFRGBAImageBegin(&image, tif.get(), 1, reason))
      throw Error(ErrorKind::kInvalidData,
                        Tr("TIFF image error: {1}",
                           {diagnostics.failed ? diagnostics.Quoted(Tr("the image data cannot be decoded"))
                                               : WithLibraryText(Tr("the image data cannot be decoded"), "libtiff", reason)}));
    std::unique_ptr<TIFFRGBAImage, void (*)(TIFFRGBAImage*)> ended(&image, TIFFRGBAImageEnd);
    image.req_orientation = ORIENTATION_TOPLEFT;
    Bitmap out(static_cast<int>(width), static_cast<int>(height), Bitmap::Format::k24Bit);
    // A band of rows at a time: the RGBA copy of the whole picture would
    // cost a third more than the picture itself.
    const uint32_t band = std::max<uint32_t>(1, std::min<uint32_t>(height, (1u << 22) / std::max<uint32_t>(width, 1)));
    std::vector<uint32_t> raster(static_cast<size_t>(width) * band);
    if (image.alpha) StartAlpha(static_cast<int>(width), static_cast<int>(height));
    for (uint32_t top = 0; top < height; top += band) {
      const uint32_t rows = std::min(band, height - top);
      image.row_offset = static_cast<int>(top);
      image.col_offset = 0;
      // Any error while decoding fails the file: libtiff would otherwise
      // hand back a picture with the undecodable parts left blank.
      if (!TIFFRGBAImageGet(&image, raster.data(), width, rows) || diagnostics.failed)
        throw Error(ErrorKind::kInvalidData,
                          Tr("TIFF image error: {1}", {diagnostics.Quoted(Tr("the image data cannot be decoded"))}));
      for (uint32_t y = 0; y < rows; ++y) {
        const uint32_t* s = raster.data() + static_cast<size_t>(y) * width;
        uint8_t* d = out.Row(static_cast<int>(top + y));
        uint8_t* kept = AlphaRow(static_cast<int>(top + y));
        for (uint32_t x = 0; x < width; ++x) {
          // libtiff hands out premultiplied alpha: over white adds the rest.
          const uint32_t p = s[x];
          const int a = TIFFGetA(p);
          const int c[3] = {static_cast<int>(TIFFGetB(p)), static_cast<int>(TIFFGetG(p)), static_cast<int>(TIFFGetR(p))};
          for (int i = 0; i < 3; ++i) d[x * 3 + i] = static_cast<uint8_t>(std::min(255, c[i] + 255 - a));
          if (!kept) continue;
          // Kept straight: the colour divided by its coverage.
          for (int i = 0; i < 3; ++i) kept[x * 4 + i] = a ? static_cast<uint8_t>(std::min(255, (c[i] * 255 + a / 2) / a)) : 0;
          kept[x * 4 + 3] = static_cast<uint8_t>(a);
        }
      }
    }
    bitmap_ = std::move(out);
  }

 private:
  // Without a profile, the chromaticity tags: primaries other than sRGB's
  // (with sRGB's curve, as TIFF says nothing of a gamma) are converted by
  // the one rule every reader follows.
  void KeepStatedColour(TIFF* tif) {
    uint16_t photometric = 0;
    float* white = nullptr;
    float* primaries = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if ((photometric != PHOTOMETRIC_RGB && photometric != PHOTOMETRIC_YCBCR && photometric != PHOTOMETRIC_PALETTE) ||
        !TIFFGetField(tif, TIFFTAG_PRIMARYCHROMATICITIES, &primaries) || !primaries)
      return;
    StatedColour stated;
    for (int i = 0; i < 6; ++i) stated.primaries[i] = primaries[i];
    // A missing white point is D65, sRGB's.
    stated.primaries[6] = 0.3127, stated.primaries[7] = 0.3290;
    if (TIFFGetField(tif, TIFFTAG_WHITEPOINT, &white) && white)
      stated.primaries[6] = white[0], stated.primaries[7] = white[1];
    IccBytes icc = ProfileFor(stated);
    if (!icc.empty()) Carry(Packet::kIcc, icc.data(), icc.size());
  }

  // 8-bit CMYK in strips, through the file's profile or the standard one;
  // false for any other layout, or with no profile to use (libtiff's own
  // arithmetic then).
  bool ReadCmyk(TIFF* tif, uint32_t width, uint32_t height, const tiff::Diagnostics& diagnostics) {
    uint16_t photometric = 0, bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG, inkset = INKSET_CMYK;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
    if (photometric != PHOTOMETRIC_SEPARATED || bits != 8 || samples != 4 || planar != PLANARCONFIG_CONTIG ||
        inkset != INKSET_CMYK || orientation != ORIENTATION_TOPLEFT || TIFFIsTiled(tif))
      return false;
    const CmykToSrgb managed(&embedded_.icc, Request().StandardCmyk(), false, Limits());
    if (!managed.OwnProblem().empty()) warnings_.push_back(ProfileIgnoredWarning(managed.OwnProblem()));
    if (!managed.Managed()) return false;
    const tmsize_t line = TIFFScanlineSize(tif);
    if (line < static_cast<tmsize_t>(width) * 4) return false;
    CheckAllocation(Limits(), int64_t{width} * height * 3, N_("TIFF image"));
    std::vector<uint8_t> cmyk(static_cast<size_t>(line));
    Bitmap out(static_cast<int>(width), static_cast<int>(height), Bitmap::Format::k24Bit);
    for (uint32_t y = 0; y < height; ++y) {
      if (TIFFReadScanline(tif, cmyk.data(), y, 0) < 0 || diagnostics.failed)
        throw Error(ErrorKind::kInvalidData,
                          Tr("TIFF image error: {1}", {diagnostics.Quoted(Tr("the image data cannot be decoded"))}));
      managed.Row(cmyk.data(), out.Row(static_cast<int>(y)), static_cast<int>(width));
    }
    bitmap_ = std::move(out);
    return true;
  }
};

}  // namespace

const GraphicClass& TiffClass() {
  static const GraphicClass cls{"TiffGraphic", [] { return std::make_unique<TiffGraphic>(); }, RecognisesTiff};
  return cls;
}

const InputFormat& TiffFormat() {
  static const InputFormat format{
      "TIFF",
      {{Registration::kSideFormat, TiffClass, "tiff", N_("Tagged image file format images"), N_("Macintosh TIFF images")},
        {Registration::kSideFormat, TiffClass, "tif", N_("Tagged image file format images"), N_("PC TIF images")},
        {Registration::kSideFormat, TiffClass, "fax", N_("Tagged image file format images"), N_("GFI fax images")}},
      RecognisesTiff,
      true,
      true,
      {"image/tiff"}};
  return format;
}

}  // namespace velmora
