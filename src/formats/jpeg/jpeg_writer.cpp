// libjpeg reports errors by longjmp: every libjpeg call happens inside
// Compress, whose frames own nothing with a destructor.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// jpeglib.h expects size_t and FILE to be declared before it.
#include <jpeglib.h>

#include "base/messages.h"
#include "formats/output_format.h"
#include "formats/jpeg/jpeg_writer.h"
#include "formats/jpeg/jpeg_private.h"

namespace velmora {
namespace {

using jpeg::ErrorManager;
using jpeg::OnError;

// The markers written after the header: plain pointers, for the frames
// that libjpeg may jump out of.
struct Markers {
  const uint8_t* exif = nullptr;
  size_t exif_size = 0;
  const char* xmp = nullptr;
  size_t xmp_size = 0;
  const uint8_t* icc = nullptr;
  size_t icc_size = 0;
  const uint8_t* iptc = nullptr;
  size_t iptc_size = 0;
};

Markers MarkersOf(const OutputExtras& extras) {
  Markers m;
  if (extras.exif) m.exif = extras.exif->data(), m.exif_size = extras.exif->size();
  if (extras.xmp) m.xmp = extras.xmp->data(), m.xmp_size = extras.xmp->size();
  if (extras.icc) m.icc = extras.icc->data(), m.icc_size = extras.icc->size();
  if (extras.iptc) m.iptc = extras.iptc->data(), m.iptc_size = extras.iptc->size();
  return m;
}

struct RowSource {
  // Fills one row of width * components bytes; must not throw.
  void (*fill)(void* self, int y, uint8_t* row);
  void* self;
  // When set instead, the rows are read where they are, blue, green, red.
  const uint8_t* (*bgr)(void* self, int y) = nullptr;
};

void WriteMarkers(jpeg_compress_struct* cinfo, const Markers& m, int components) {
  // A marker holds at most 65533 bytes: a larger EXIF or XMP block is left out.
  static const char kExif[] = "Exif\0";  // with its terminator: "Exif\0\0"
  static const char kXmp[] = "http://ns.adobe.com/xap/1.0/";
  if (m.exif && m.exif_size + sizeof kExif <= 65533) {
    jpeg_write_m_header(cinfo, JPEG_APP0 + 1, static_cast<unsigned>(m.exif_size + sizeof kExif));
    for (size_t i = 0; i < sizeof kExif; ++i) jpeg_write_m_byte(cinfo, kExif[i]);
    for (size_t i = 0; i < m.exif_size; ++i) jpeg_write_m_byte(cinfo, m.exif[i]);
  }
  if (m.xmp && m.xmp_size + sizeof kXmp <= 65533) {
    jpeg_write_m_header(cinfo, JPEG_APP0 + 1, static_cast<unsigned>(m.xmp_size + sizeof kXmp));
    for (size_t i = 0; i < sizeof kXmp; ++i) jpeg_write_m_byte(cinfo, kXmp[i]);
    for (size_t i = 0; i < m.xmp_size; ++i) jpeg_write_m_byte(cinfo, static_cast<uint8_t>(m.xmp[i]));
  }
  // IPTC-IIM as Photoshop keeps it: APP13, one image resource block
  // (signature, id, empty name padded to a word, size, the records padded).
  static const char kPhotoshop[] = "Photoshop 3.0";  // with its terminator
  const size_t padded = m.iptc_size + (m.iptc_size & 1);
  const size_t app13 = sizeof kPhotoshop + 4 + 2 + 2 + 4 + padded;
  if (m.iptc && app13 <= 65533) {
    jpeg_write_m_header(cinfo, JPEG_APP0 + 13, static_cast<unsigned>(app13));
    for (size_t i = 0; i < sizeof kPhotoshop; ++i) jpeg_write_m_byte(cinfo, kPhotoshop[i]);
    const uint32_t n = static_cast<uint32_t>(m.iptc_size);
    const uint8_t block[] = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0, uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8),
                             uint8_t(n)};
    for (uint8_t b : block) jpeg_write_m_byte(cinfo, b);
    for (size_t i = 0; i < padded; ++i) jpeg_write_m_byte(cinfo, i < m.iptc_size ? m.iptc[i] : 0);
  }
  // An RGB profile describes colour pixels only.
  if (m.icc && components == 3) jpeg_write_icc_profile(cinfo, m.icc, static_cast<unsigned>(m.icc_size));
}

int Compress(int width, int height, int components, int quality, RowSource* source, uint8_t* row, unsigned char** out,
             unsigned long* out_size, char* message, const Markers& markers) {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnError;
  if (setjmp(err.jump)) {
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", err.message);
    jpeg_destroy_compress(&cinfo);
    return 1;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, out, out_size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = components;
  cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : source->bgr ? JCS_EXT_BGR : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  WriteMarkers(&cinfo, markers, components);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = static_cast<int>(cinfo.next_scanline);
    JSAMPROW rows[1] = {row};
    if (source->bgr)
      rows[0] = const_cast<JSAMPROW>(source->bgr(source->self, y));
    else
      source->fill(source->self, y, row);
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return 0;
}

struct Fill {
  const Bitmap* bitmap;
  bool grey;
  static void Row(void* self, int y, uint8_t* row) {
    const auto* f = static_cast<Fill*>(self);
    const Bitmap& b = *f->bitmap;
    const int bits = b.Bits();
    const uint8_t* s = b.Row(y);
    for (int x = 0; x < b.Width(); ++x) {
      uint8_t r, g, bl;
      if (bits >= 24) {
        const int step = bits / 8;
        bl = s[x * step], g = s[x * step + 1], r = s[x * step + 2];
      } else {
        const auto& pal = b.Palette();
        const size_t i = static_cast<size_t>(b.GetIndex(x, y));
        const RgbQuad q = i < pal.size() ? pal[i] : RgbQuad{};
        r = q.red, g = q.green, bl = q.blue;
      }
      if (f->grey) {
        row[x] = r;
      } else {
        row[x * 3] = r, row[x * 3 + 1] = g, row[x * 3 + 2] = bl;
      }
    }
  }
};

}  // namespace

void EncodeJpeg(const Bitmap& bitmap, int quality, std::ostream& out, const OutputExtras& extras) {
  bool grey = bitmap.Bits() <= 8 && !bitmap.Palette().empty();
  for (const RgbQuad& q : bitmap.Palette()) grey = grey && q.red == q.green && q.green == q.blue;
  Fill fill{&bitmap, grey};
  RowSource source{&Fill::Row, &fill};
  std::vector<uint8_t> row(static_cast<size_t>(bitmap.Width()) * 3);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = {};
  const int q = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  const int rc =
      Compress(bitmap.Width(), bitmap.Height(), grey ? 1 : 3, q, &source, row.data(), &buffer, &size, message,
               MarkersOf(extras));
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(buffer, &std::free);
  if (rc != 0) throw Error(ErrorKind::kInternal, Tr("JPEG image error: {1}", {WithLibraryText(Tr("the picture cannot be written"), "libjpeg", message)}));
  out.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(size));
}

void EncodeJpeg(const DibImage& image, int quality, std::ostream& out, const OutputExtras& extras) {
  if (image.GetPixelFormat() != PixelFormat::k24Bit) {
    Bitmap bitmap;
    image.AssignTo(bitmap);
    EncodeJpeg(bitmap, quality, out, extras);
    return;
  }
  // True colour goes from the DIB's own rows to the compressor, which reads
  // blue, green, red as they are stored: no copy of the picture.
  RowSource source{nullptr, const_cast<DibImage*>(&image),
                   [](void* self, int y) { return static_cast<const DibImage*>(self)->TopRow(y); }};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  char message[JMSG_LENGTH_MAX] = {};
  const int q = quality < 1 ? 1 : quality > 100 ? 100 : quality;
  const int rc =
      Compress(image.Width(), image.Height(), 3, q, &source, nullptr, &buffer, &size, message, MarkersOf(extras));
  std::unique_ptr<unsigned char, decltype(&std::free)> owned(buffer, &std::free);
  if (rc != 0) throw Error(ErrorKind::kInternal, Tr("JPEG image error: {1}", {WithLibraryText(Tr("the picture cannot be written"), "libjpeg", message)}));
  out.write(reinterpret_cast<const char*>(buffer), static_cast<std::streamsize>(size));
}

const OutputFormat& JpegOutput() {
  // The track bar's position is the quality in tens.
  static const OutputFormat format{
      .extension = "jpg",
      .name = "JPEG",
      .aliases = {"jpeg"},
      .takes_quality = true,
      .holds_icc = true,
      .holds_exif = true,
      .holds_iptc = true,
      .encode = [](const DibImage& image, const EncodeOptions& options,
                   std::ostream& out) { EncodeJpeg(image, options.quality * 10, out, options.extras); },
      // A baseline encoder holds a band of MCU rows.
      .memory = [](int64_t width, int64_t, int, const EncodeOptions&) -> uint64_t {
        return kEncoderBuffers + static_cast<uint64_t>(width) * 48;
      },
  };
  return format;
}

}  // namespace velmora
