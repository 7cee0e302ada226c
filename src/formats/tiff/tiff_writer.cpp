#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
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

void Encode(const ImageRows& b, std::ostream& out, const OutputExtras& extras, const RgbaRows* rgba = nullptr) {
  // libtiff seeks back to patch offsets, so the file is made in memory and
  // handed to the stream in one piece. Room for the whole picture uncompressed and then some: LZW with the
  // predictor rarely needs more, and pages never written cost nothing. Past
  // 128 MiB the file grows on the heap instead of being promised up front.
  const size_t raw = (static_cast<size_t>(b.Width()) * (rgba ? 32 : b.Bits()) + 7) / 8 * static_cast<size_t>(b.Height());
  tiff::OutputBuffer buffer(std::min<size_t>(raw + raw / 8 + 4096, size_t{128} << 20));
  {
    tiff::MemoryFile memory;
    memory.output = &buffer;
    tiff::Diagnostics diagnostics;
    tiff::Handle tif = tiff::Open("w", memory, diagnostics);
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
        throw Error(ErrorKind::kInternal, Tr("TIFF error: cannot write row {1}", {std::to_string(y)}));
    }
    if (!TIFFWriteDirectory(t)) throw Error(ErrorKind::kInternal, Tr("TIFF error: cannot write the directory"));
  }
  if (extras.exif) {
    // libtiff writes no EXIF directory from a block: exiv2 adds it.
    std::vector<uint8_t> file(buffer.Data(), buffer.Data() + buffer.Size());
    AddExifToTiff(file, *extras.exif);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return;
  }
  out.write(reinterpret_cast<const char*>(buffer.Data()), static_cast<std::streamsize>(buffer.Size()));
}

}  // namespace

void EncodeTiff(const Bitmap& bitmap, std::ostream& out) { Encode(ImageRows(bitmap), out, {}); }

// The DIB's own rows go to the encoder: no copy of the picture.
void EncodeTiff(const DibImage& image, std::ostream& out, const OutputExtras& extras) {
  if (extras.alpha) {
    EncodeOptions options;
    options.extras.alpha = extras.alpha;
    const RgbaRows rgba(image, options);
    Encode(ImageRows(image), out, extras, &rgba);
    return;
  }
  Encode(ImageRows(image), out, extras);
}

const OutputFormat& TiffOutput() {
  static const OutputFormat format{"tif", {"tiff"}, false, false, false,
                                   [](const DibImage& image, const EncodeOptions& options, std::ostream& out) {
                                     EncodeTiff(image, out, options.extras);
                                   },
                                   false, false, true};
  return format;
}

}  // namespace velmora
