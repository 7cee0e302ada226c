#include <tiffio.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "formats/tiff/tiff_writer.h"

namespace velmora {
namespace {

// libtiff writes into a growing memory buffer (it seeks back to patch
// offsets), which is then handed to the stream in one piece.
struct Buffer {
  std::vector<uint8_t> data;
  toff_t pos = 0;
};

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* b = static_cast<Buffer*>(h);
  if (b->pos >= b->data.size()) return 0;
  const size_t n = std::min<size_t>(static_cast<size_t>(size), b->data.size() - b->pos);
  std::memcpy(buf, b->data.data() + b->pos, n);
  b->pos += n;
  return static_cast<tsize_t>(n);
}
tsize_t WriteProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* b = static_cast<Buffer*>(h);
  if (size <= 0) return 0;
  const size_t end = static_cast<size_t>(b->pos) + static_cast<size_t>(size);
  if (end > b->data.size()) b->data.resize(end);
  std::memcpy(b->data.data() + b->pos, buf, static_cast<size_t>(size));
  b->pos = end;
  return size;
}
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* b = static_cast<Buffer*>(h);
  const toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? b->pos : b->data.size();
  b->pos = base + off;
  return b->pos;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<Buffer*>(h)->data.size(); }
int MapProc(thandle_t, tdata_t*, toff_t*) { return 0; }
void UnmapProc(thandle_t, tdata_t, toff_t) {}
void Quiet(const char*, const char*, va_list) {}

}  // namespace

void EncodeTiff(const Bitmap& source, std::ostream& out) {
  TIFFSetErrorHandler(Quiet);
  TIFFSetWarningHandler(Quiet);
  const Bitmap converted = source.Bits() == 32 ? source.To24Bit() : Bitmap();
  const Bitmap& b = source.Bits() == 32 ? converted : source;
  Buffer buffer;
  {
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tif(
        TIFFClientOpen("output", "w", &buffer, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc, MapProc, UnmapProc),
        &TIFFClose);
    if (!tif) throw TiffWriteError("TIFF error: cannot start the encoder");
    TIFF* t = tif.get();
    const int bits = b.Bits();
    const bool rgb = bits == 24;
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(b.Width()));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(b.Height()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(rgb ? 8 : bits));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(rgb ? 3 : 1));
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
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    const size_t row_bytes = (static_cast<size_t>(b.Width()) * bits + 7) / 8;
    std::vector<uint8_t> row(row_bytes);
    for (int y = 0; y < b.Height(); ++y) {
      const uint8_t* s = b.Row(y);
      if (rgb) {
        for (int x = 0; x < b.Width(); ++x)
          row[x * 3] = s[x * 3 + 2], row[x * 3 + 1] = s[x * 3 + 1], row[x * 3 + 2] = s[x * 3];
      } else {
        std::memcpy(row.data(), s, row_bytes);
      }
      if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0)
        throw TiffWriteError("TIFF error: cannot write row " + std::to_string(y));
    }
    if (!TIFFWriteDirectory(t)) throw TiffWriteError("TIFF error: cannot write the directory");
  }
  out.write(reinterpret_cast<const char*>(buffer.data.data()), static_cast<std::streamsize>(buffer.data.size()));
}

}  // namespace velmora
