// TIFF input on libtiff (the first page), recognised by its byte-order mark.
// libtiff's RGBA reader covers strips and tiles, every bit depth, palette,
// CMYK and YCbCr; alpha is composited over white.
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <istream>
#include <iterator>
#include <memory>
#include <vector>

#include "image/limits.h"
#include "formats/formats.h"

namespace velmora {
namespace {

bool RecognisesTiff(std::istream& in) {
  const auto start = in.tellg();
  uint8_t head[4] = {};
  in.read(reinterpret_cast<char*>(head), 4);
  const bool got = in.gcount() == 4;
  in.clear();
  in.seekg(start);
  if (!got) return false;
  return (head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43));
}

struct Memory {
  const std::vector<uint8_t>* data;
  toff_t pos = 0;
};

tsize_t ReadProc(thandle_t h, tdata_t buf, tsize_t size) {
  auto* m = static_cast<Memory*>(h);
  if (m->pos >= m->data->size()) return 0;
  const size_t n = std::min<size_t>(static_cast<size_t>(size), m->data->size() - m->pos);
  std::memcpy(buf, m->data->data() + m->pos, n);
  m->pos += n;
  return static_cast<tsize_t>(n);
}
tsize_t WriteProc(thandle_t, tdata_t, tsize_t) { return -1; }
toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<Memory*>(h);
  toff_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : m->data->size();
  m->pos = base + off;
  return m->pos;
}
int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<Memory*>(h)->data->size(); }
// Handing libtiff the whole buffer as a mapping takes its lenient mapped-file
// path, which reads tiles whose byte counts exceed the tile size.
int MapProc(thandle_t h, tdata_t* base, toff_t* size) {
  auto* m = static_cast<Memory*>(h);
  *base = const_cast<uint8_t*>(m->data->data());
  *size = m->data->size();
  return 1;
}
void UnmapProc(thandle_t, tdata_t, toff_t) {}

// What libtiff said about this one file: its first error, kept per handle.
struct Diagnostics {
  char first_error[256] = {};
  bool failed = false;
};

int OnTiffError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* d = static_cast<Diagnostics*>(user);
  if (!d->failed) {
    char text[200];
    std::vsnprintf(text, sizeof text, fmt, ap);
    std::snprintf(d->first_error, sizeof d->first_error, "%s%s%s", module ? module : "", module ? ": " : "", text);
  }
  d->failed = true;
  return 1;
}

// Warnings concern tags we do not use; the pixels decide.
int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

class TiffGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "TiffGraphic"; }

 protected:
  void OnLoad(std::istream& in) override {
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Memory memory{&data};
    Diagnostics diagnostics;
    std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                             &TIFFOpenOptionsFree);
    if (!options) throw std::bad_alloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnTiffError, &diagnostics);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnTiffWarning, nullptr);
    std::unique_ptr<TIFF, decltype(&TIFFClose)> tif(TIFFClientOpenExt("input", "r", &memory, ReadProc, WriteProc,
                                                                      SeekProc, CloseProc, SizeProc, MapProc,
                                                                      UnmapProc, options.get()),
                                                    &TIFFClose);
    if (!tif)
      throw DecodeError(DecodeKind::kInvalidData, std::string("TIFF image error: not a readable TIFF file") +
                               (diagnostics.failed ? std::string(" (") + diagnostics.first_error + ")" : ""));
    uint32_t width = 0, height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    CheckImageSize(width, height, "TIFF image");
    std::vector<uint32_t> raster(static_cast<size_t>(width) * height);
    // Any error while decoding fails the file: libtiff would otherwise hand
    // back a picture with the undecodable parts left blank.
    if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1) ||
        diagnostics.failed)
      throw DecodeError(DecodeKind::kInvalidData, std::string("TIFF image error: the image data cannot be decoded") +
                               (diagnostics.failed ? std::string(" (") + diagnostics.first_error + ")" : ""));
    Bitmap out(static_cast<int>(width), static_cast<int>(height), Bitmap::Format::k24Bit);
    for (uint32_t y = 0; y < height; ++y) {
      const uint32_t* s = raster.data() + static_cast<size_t>(y) * width;
      uint8_t* d = out.Row(static_cast<int>(y));
      for (uint32_t x = 0; x < width; ++x) {
        // libtiff hands out premultiplied alpha: over white adds the rest.
        const uint32_t p = s[x];
        const int a = TIFFGetA(p);
        d[x * 3] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetB(p)) + 255 - a));
        d[x * 3 + 1] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetG(p)) + 255 - a));
        d[x * 3 + 2] = static_cast<uint8_t>(std::min(255, static_cast<int>(TIFFGetR(p)) + 255 - a));
      }
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& TiffClass() {
  static const GraphicClass cls{"TiffGraphic", [] { return std::make_unique<TiffGraphic>(); }, RecognisesTiff};
  return cls;
}

}  // namespace velmora
