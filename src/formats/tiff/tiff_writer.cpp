#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <sstream>
#include <vector>

#include "formats/tiff/tiff_private.h"
#include "formats/output_format.h"
#include "base/messages.h"
#include "formats/tiff/tiff_writer.h"
#include "formats/metadata.h"
#include "formats/rgba_rows.h"
#include "image/image_rows.h"

namespace velmora {

namespace {

// libtiff writing straight onto out from its position on; out must seek.
void Write(const ImageRows& b, std::ostream& out, const OutputExtras& extras, const RgbaRows* rgba) {
  tiff::MemoryFile file;
  file.out = &out;
  file.base = static_cast<uint64_t>(std::streamoff(out.tellp()));
  tiff::Diagnostics diagnostics;
  tiff::Handle tif = tiff::Open("w", file, diagnostics);
  if (!tif) throw Error(ErrorKind::kInternal, diagnostics.Quoted(Tr("TIFF error: cannot start the encoder")));
  TIFF* t = tif.get();
  // With a kept alpha: RGB and the alpha as an extra, unassociated sample.
  const int bits = rgba ? 32 : b.Bits();
  const bool rgb = bits >= 24;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(b.Width()));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(b.Height()));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(rgb ? 8 : bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(rgb ? bits / 8 : 1));
  if (rgba) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(t, TIFFTAG_XRESOLUTION, 96.0f);
  TIFFSetField(t, TIFFTAG_YRESOLUTION, 96.0f);
  std::vector<uint16_t> red, green, blue;
  if (rgb) {
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  } else {
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    const size_t n = size_t{1} << bits;
    red.assign(n, 0), green.assign(n, 0), blue.assign(n, 0);
    const auto& pal = b.Palette();
    for (size_t i = 0; i < n && i < pal.size(); ++i) {
      red[i] = static_cast<uint16_t>(pal[i].red * 257);
      green[i] = static_cast<uint16_t>(pal[i].green * 257);
      blue[i] = static_cast<uint16_t>(pal[i].blue * 257);
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  if (extras.icc) TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(extras.icc->size()), extras.icc->data());
  if (extras.xmp) TIFFSetField(t, TIFFTAG_XMLPACKET, static_cast<uint32_t>(extras.xmp->size()), extras.xmp->data());
  if (extras.iptc) {
    // IPTC-IIM as ImageMagick and Photoshop write it, whole 32-bit words;
    // libtiff counts this tag in bytes.
    std::vector<uint8_t> words((extras.iptc->size() + 3) / 4 * 4, 0);
    std::memcpy(words.data(), extras.iptc->data(), extras.iptc->size());
    TIFFSetField(t, TIFFTAG_RICHTIFFIPTC, static_cast<uint32_t>(words.size()), words.data());
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  const size_t row_bytes = (static_cast<size_t>(b.Width()) * bits + 7) / 8;
  std::vector<uint8_t> row(row_bytes);
  for (int y = 0; y < b.Height(); ++y) {
    const uint8_t* s = b.Row(y);
    if (rgba) {
      rgba->Row(y, row.data());
    } else if (rgb) {
      for (int x = 0; x < b.Width(); ++x)
        row[x * 3] = s[x * 3 + 2], row[x * 3 + 1] = s[x * 3 + 1], row[x * 3 + 2] = s[x * 3];
    } else {
      std::memcpy(row.data(), s, row_bytes);
    }
    if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
      throw Error(ErrorKind::kIo, diagnostics.Quoted(Tr("TIFF error: cannot write row {1}", {std::to_string(y)})));
  }
  if (!TIFFWriteDirectory(t))
    throw Error(ErrorKind::kIo, diagnostics.Quoted(Tr("TIFF error: cannot write the directory")));
  tif.reset();
  // What libtiff wrote last may be a patch behind the end: the stream goes on from the end.
  out.seekp(static_cast<std::streamoff>(file.base + file.written));
  if (!out) throw Error(ErrorKind::kIo, Tr("TIFF error: cannot write the directory"));
}

bool CanSeek(std::ostream& out) { return out.tellp() != std::ostream::pos_type(-1); }

void Encode(const ImageRows& b, std::ostream& out, const OutputExtras& extras, const RgbaRows* rgba,
            const ConversionContext* context) {
  if (extras.exif) {
    // libtiff writes no EXIF directory from a block: exiv2 adds it to the
    // whole file in memory.
    std::ostringstream memory;
    Write(b, memory, extras, rgba);
    const std::string made = memory.str();
    std::vector<uint8_t> file(made.begin(), made.end());
    AddExifToTiff(file, *extras.exif);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return;
  }
  // Strips go to the file as libtiff makes them; a stream that cannot seek
  // (a pipe) gets the file made in a scratch file first.
  if (CanSeek(out)) return Write(b, out, extras, rgba);
  const std::unique_ptr<ScratchFile> scratch = context ? context->MakeScratch() : MemoryScratchFile();
  Write(b, scratch->Out(), extras, rgba);
  scratch->Size();
  scratch->CopyTo(out);
}

}  // namespace

void EncodeTiff(const Bitmap& bitmap, std::ostream& out) { Encode(ImageRows(bitmap), out, {}, nullptr, nullptr); }

// The DIB's own rows go to the encoder: no copy of the picture.
void EncodeTiff(const DibImage& image, std::ostream& out, const OutputExtras& extras, const ConversionContext* context) {
  if (extras.alpha) {
    EncodeOptions options;
    options.extras.alpha = extras.alpha;
    const RgbaRows rgba(image, options);
    Encode(ImageRows(image), out, extras, &rgba, context);
    return;
  }
  Encode(ImageRows(image), out, extras, nullptr, context);
}

const OutputFormat& TiffOutput() {
  static const OutputFormat format{
      .extension = "tif",
      .name = "TIFF",
      .aliases = {"tiff"},
      .holds_icc = true,
      .holds_exif = true,
      .holds_iptc = true,
      .holds_alpha = true,
      .encode = [](const DibImage& image, const EncodeOptions& options, std::ostream& out) {
        EncodeTiff(image, out, options.extras, options.context);
      },
      // Strips go to the file as they are made; EXIF is added by rewriting
      // the whole file in memory, which holds it about three times.
      .memory = [](int64_t width, int64_t height, int bits, const EncodeOptions& options) -> uint64_t {
        return kEncoderBuffers + (options.extras.exif ? 3 * PictureBytes(width, height, options.extras.alpha ? 32 : bits) : 0);
      },
  };
  return format;
}

}  // namespace velmora
