#include "fuzz_entry.h"

#include "base/error.h"
#include "formats/loader.h"
#include "formats/metadata.h"
#include "image/color_profile.h"

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

}  // namespace

const std::vector<std::string>& Targets() {
  static const std::vector<std::string> targets = {"bmp", "dib", "jpg",  "png", "gif", "tif", "mag", "tga", "pcx",  "ppm", "sgi",    "psd",      "rla",
                                                  "cel", "pcd", "cut", "psp", "eps", "webp", "heic", "jxl", "loader", "clipboard"};
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
    } else if (const GraphicClass* cls = loader.Registry().FindExtension(target)) {
      Decode(*cls, data, size);
    }
  } catch (const Error&) {
    // Refusing bad input is the expected outcome.
  }
}

}  // namespace velmora::fuzz
