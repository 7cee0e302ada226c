#include "fuzz_entry.h"

#include <sstream>

#include "base/error.h"
#include "formats/loader.h"
#include "formats/metadata.h"
#include "image/color_profile.h"
#include "pipeline/prepare_source.h"
#include "pipeline/writers.h"

namespace velmora::fuzz {
namespace {

const Loader& TheLoader() {
  static const Loader loader;
  return loader;
}

// What a conversion does with a file's picture and what it carries: the
// alpha kept beside the picture over white (so both ways of every reader
// run), the embedded profile applied, EXIF and XMP fitted to an output.
void Use(Graphic& graphic) {
  Bitmap bitmap;
  graphic.MoveTo(bitmap);
  Bitmap alpha = graphic.TakeAlpha();
  const Embedded& carried = graphic.Carried();
  if (!carried.icc.empty()) {
    const ColorProfile profile(carried.icc, graphic.Limits());
    profile.ConvertToSrgb(bitmap);
    if (!alpha.Empty()) profile.ConvertToSrgb(alpha);
    (void)profile.Keepable();
  }
  if (!carried.exif.empty() || !carried.xmp.empty()) FitMetadata(carried, bitmap.Width(), bitmap.Height(), true);
}

DecodeRequest KeepingAlpha() {
  DecodeRequest request;
  request.keep_alpha = true;
  request.metadata = true;
  return request;
}

void Decode(const GraphicClass& cls, const uint8_t* data, size_t size) {
  auto graphic = cls.create();
  graphic->SetRequest(KeepingAlpha());
  graphic->LoadFromMemory(data, size);
  Use(*graphic);
}

// A small picture with an alpha channel and what a file may carry, as a
// decoder hands them over.
class CarryingGraphic : public BitmapGraphic {
 public:
  CarryingGraphic(const uint8_t* data, size_t size) {
    const int width = 6 + (size ? data[0] % 4 : 0), height = 5;
    bitmap_ = Bitmap(width, height, Bitmap::Format::k24Bit);
    SetRequest(KeepingAlpha());
    StartAlpha(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        PutPixel(bitmap_.Row(y) + x * 3, AlphaRow(y) + x * 4, x * 40, y * 50, 200, (x + y) % 3 ? 255 : x * 30);
  }
  std::string ClassName() const override { return "CarryingGraphic"; }
  void Carry(const Embedded& carried) { embedded_ = carried; }

 protected:
  void OnLoad(const uint8_t*, size_t) override {}
};

// The bytes as a profile, an EXIF block and an XMP packet: two lengths,
// then the three one after another.
Embedded Split(const uint8_t* data, size_t size) {
  Embedded carried;
  if (size < 5) return carried;
  const size_t icc = std::min<size_t>(size - 5, size_t{data[1]} << 8 | data[2]);
  const size_t exif = std::min<size_t>(size - 5 - icc, size_t{data[3]} << 8 | data[4]);
  carried.icc.assign(data + 5, data + 5 + icc);
  carried.exif.assign(data + 5 + icc, data + 5 + icc + exif);
  carried.xmp.assign(reinterpret_cast<const char*>(data + 5 + icc + exif), size - 5 - icc - exif);
  return carried;
}

// A picture carrying the bytes through the pipeline's preparation (its
// profile checked, its metadata fitted, its alpha kept) into one output.
void Write(const std::string& extension, const uint8_t* data, size_t size) {
  Settings settings;
  settings.C_PixelColor = size && data[0] & 0x10 ? 1 : 0;
  settings.keep_profile = settings.V_metadata = settings.keep_alpha = true;
  settings.strip_location = size && data[0] & 0x20;
  settings.C_lossless = size && data[0] & 0x40;
  settings.O_quality_t = 0;  // the encoders' fastest: the extras are what is tried
  CarryingGraphic graphic(data, size);
  graphic.Carry(Split(data, size));
  PreparedPicture picture = PreparePicture(TakeLoaded(graphic, settings), settings, 0, 0, DecodeLimits{});
  for (const FormatWriter& writer : DefaultWriters()) {
    if (writer.Extension() != extension) continue;
    ConversionContext context;
    const WriterContext writing{settings, kNoColor, picture.frame, picture.extras, &context};
    std::ostringstream out;
    writer.encode(picture.image, writing, out);
  }
}

}  // namespace

const std::vector<std::string>& Targets() {
  static const std::vector<std::string> targets = {
      "bmp", "dib", "jpg", "png", "gif", "tif", "mag", "tga", "pcx", "ppm", "sgi", "psd", "rla", "cel", "pcd", "cut", "psp",
      "eps", "webp", "heic", "jxl", "loader", "clipboard", "extras_png", "extras_jpg", "extras_tif", "extras_webp",
      "extras_avif", "extras_jxl", "extras_pdf"};
  return targets;
}

void FuzzOne(const std::string& target, const uint8_t* data, size_t size) {
  const Loader& loader = TheLoader();
  try {
    if (target == "loader") {
      // LoadFile on the bytes, the name's extension chosen by the first byte
      // so that every chance is reached.
      static const char* kNames[] = {"f.png", "f.jpg", "f.bmp", "f.gif", "f.tif", "f.mag", "f.dib", "f.dat"};
      auto graphic = loader.Load(kNames[size ? data[0] % 8 : 0], data, size, KeepingAlpha());
      Use(*graphic);
    } else if (target == "clipboard") {
      const std::vector<uint8_t> packed(data, data + size);
      for (uint32_t format : {8u, 2u}) {
        try {
          auto graphic = loader.Registry().FindClipboardFormat(format)->create();
          graphic->LoadFromClipboardFormat(format, packed);
          Bitmap bitmap;
          graphic->AssignTo(bitmap);
        } catch (const Error&) {
        }
      }
    } else if (target.rfind("extras_", 0) == 0) {
      Write(target.substr(7), data, size);
    } else if (const GraphicClass* cls = loader.Registry().FindExtension(target)) {
      Decode(*cls, data, size);
    }
  } catch (const Error&) {
    // Refusing bad input is the expected outcome.
  }
}

}  // namespace velmora::fuzz
