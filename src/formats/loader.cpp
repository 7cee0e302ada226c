#include "formats/loader.h"

#include <string>
#include <vector>

#include "base/paths.h"
#include "formats/formats.h"
#include "image/limits.h"
#include "platform/platform.h"

namespace velmora {

std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

namespace {

// Where a row registers: the extension list of GraphicRegistry, its
// clipboard list, or FileFormatList (which passes the extension on to
// GraphicRegistry and makes a side format's class a content candidate).
enum class Via { kRegistry, kClipboard, kSideFormats };

struct Registration {
  Via via;
  const GraphicClass& (*cls)();
  const char* extension;
  const char* common;      // the description (common to a class's extensions)
  const char* individual;  // FileFormatList: the extension's own description
  uint32_t clipboard = 0;  // kClipboard: the clipboard format
};

// Every registration at start-up, in order. The order matters: a later
// registration of an extension wins, and the side formats are asked by
// content in the order of their first row.
const Registration kRegistrations[] = {
    // What the desktop knows by itself.
    {Via::kRegistry, MetafileClass, "wmf", "Windows metafiles", ""},
    {Via::kRegistry, MetafileClass, "emf", "Windows enhanced meta files", ""},
    {Via::kRegistry, IconClass, "ico", "Windows icons", ""},
    {Via::kRegistry, BitmapClass, "bmp", "Windows bitmaps", ""},
    {Via::kClipboard, MetafileClass, "", "", "", 3},
    {Via::kClipboard, MetafileClass, "", "", "", 14},
    {Via::kClipboard, BitmapClass, "", "", "", 2},
    // The JPEG image class.
    {Via::kRegistry, JpegClass, "jpeg", "JPEG イメージファイル", ""},
    {Via::kRegistry, JpegClass, "jpg", "JPEG イメージファイル", ""},
    // FileFormatList.
    {Via::kSideFormats, BitmapClass, "bmp", "Windows bitmaps", ""},
    {Via::kSideFormats, IconClass, "ico", "Windows icons", ""},
    {Via::kSideFormats, MetafileClass, "wmf", "Windows metafiles", ""},
    {Via::kSideFormats, MetafileClass, "emf", "Windows metafiles", "Windows enhanced meta files"},
    {Via::kSideFormats, JpegClass, "jfif", "JPG images", "JFIF images"},
    {Via::kSideFormats, JpegClass, "jpg", "JPG images", "JPG images"},
    {Via::kSideFormats, JpegClass, "jpe", "JPG images", "JPE images"},
    {Via::kSideFormats, JpegClass, "jpeg", "JPG images", "JPEG images"},
    {Via::kSideFormats, BitmapClass, "rle", "Windows bitmaps", "Run length encoded Windows bitmaps"},
    {Via::kSideFormats, BitmapClass, "dib", "Windows bitmaps", "Device independant Windows bitmaps"},
    {Via::kSideFormats, TiffClass, "tiff", "Tagged image file format images", "Macintosh TIFF images"},
    {Via::kSideFormats, TiffClass, "tif", "Tagged image file format images", "PC TIF images"},
    {Via::kSideFormats, TiffClass, "fax", "Tagged image file format images", "GFI fax images"},
    {Via::kSideFormats, PngSideClass, "png", "Portable network graphic images", ""},
    // The classes registered after FileFormatList.
    {Via::kRegistry, GifClass, "GIF", "GIF Image", ""},
    {Via::kClipboard, GifClass, "", "", "", 0xC000},  // "GIF Image"
    {Via::kRegistry, MagClass, "MAG", "MAki chan Graphic format", ""},
    {Via::kRegistry, DibImageClass, "dib", "Device Independent Bitmap", ""},
    {Via::kClipboard, DibImageClass, "", "", "", 8},
    {Via::kRegistry, PngEncoderClass, "PNG", "PNG Format", ""},
};

}  // namespace

Loader::Loader() {
  for (const Registration& row : kRegistrations) {
    switch (row.via) {
      case Via::kRegistry:
        registry_.RegisterFileFormat(row.extension, row.common, &row.cls());
        break;
      case Via::kClipboard:
        registry_.RegisterClipboardFormat(row.clipboard, &row.cls());
        break;
      case Via::kSideFormats:
        formats_.Register(row.extension, row.common, row.individual, &row.cls());
        break;
    }
  }
}

const GraphicClass* Loader::ClassFromContent(const std::string& path) const {
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, CurrentLimits().max_file);
  return ClassFromContent(data.data(), data.size());
}

const GraphicClass* Loader::ClassFromContent(const uint8_t* data, size_t size) const {
  for (const GraphicClass* cls : formats_.ContentDetectionOrder())
    if (cls->recognises(data, size)) return cls;
  return nullptr;
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path) const {
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, CurrentLimits().max_file);
  return LoadByExtension(path, data.data(), data.size());
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path, const uint8_t* data, size_t size) const {
  const std::string extension = ExtensionOf(path);
  const GraphicClass* cls = registry_.FindExtension(extension);
  if (!cls) throw InvalidGraphicError("拡張子 ." + extension + " の画像形式は処理できません");
  auto graphic = cls->create();
  graphic->LoadFromMemory(data, size);
  return graphic;
}

std::unique_ptr<Graphic> Loader::LoadFile(const std::string& path) const {
  // Read once: content detection and both attempts work on the same bytes.
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, CurrentLimits().max_file);
  if (const GraphicClass* cls = ClassFromContent(data.data(), data.size())) {
    try {
      auto graphic = cls->create();
      graphic->LoadFromMemory(data.data(), data.size());
      return graphic;
    } catch (const Error&) {
      // A file claimed by content but not decodable gets a second chance by
      // its extension. Running out of memory or a bug is no such case.
    }
  }
  return LoadByExtension(path, data.data(), data.size());
}

}  // namespace velmora
