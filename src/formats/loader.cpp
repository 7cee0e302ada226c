#include "formats/loader.h"

#include "base/paths.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "formats/formats.h"

namespace velmora {

std::string ExtensionOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? "" : name.substr(dot + 1);
}

Loader::Loader() {
  // The registry starts with what the desktop knows by itself.
  registry_.RegisterFileFormat("wmf", "Windows metafiles", &MetafileClass());
  registry_.RegisterFileFormat("emf", "Windows enhanced meta files", &MetafileClass());
  registry_.RegisterFileFormat("ico", "Windows icons", &IconClass());
  registry_.RegisterFileFormat("bmp", "Windows bitmaps", &BitmapClass());
  registry_.RegisterClipboardFormat(3, &MetafileClass());
  registry_.RegisterClipboardFormat(14, &MetafileClass());
  registry_.RegisterClipboardFormat(2, &BitmapClass());

  // Registration order matters: later registrations of an extension win, and
  // the side formats are asked by content in the order they appear here.
  registry_.RegisterFileFormat("jpeg", "JPEG イメージファイル", &JpegClass());
  registry_.RegisterFileFormat("jpg", "JPEG イメージファイル", &JpegClass());

  struct Row {
    const GraphicClass* cls;
    const char* extension;
    const char* common;
    const char* individual;
  };
  const Row rows[] = {
      {&BitmapClass(), "bmp", "Windows bitmaps", ""},
      {&IconClass(), "ico", "Windows icons", ""},
      {&MetafileClass(), "wmf", "Windows metafiles", ""},
      {&MetafileClass(), "emf", "Windows metafiles", "Windows enhanced meta files"},
      {&JpegClass(), "jfif", "JPG images", "JFIF images"},
      {&JpegClass(), "jpg", "JPG images", "JPG images"},
      {&JpegClass(), "jpe", "JPG images", "JPE images"},
      {&JpegClass(), "jpeg", "JPG images", "JPEG images"},
      {&BitmapClass(), "rle", "Windows bitmaps", "Run length encoded Windows bitmaps"},
      {&BitmapClass(), "dib", "Windows bitmaps", "Device independant Windows bitmaps"},
      {&TiffClass(), "tiff", "Tagged image file format images", "Macintosh TIFF images"},
      {&TiffClass(), "tif", "Tagged image file format images", "PC TIF images"},
      {&TiffClass(), "fax", "Tagged image file format images", "GFI fax images"},
      {&PngSideClass(), "png", "Portable network graphic images", ""},
  };
  for (const Row& row : rows) formats_.Register(row.extension, row.common, row.individual, row.cls);

  registry_.RegisterFileFormat("GIF", "GIF Image", &GifClass());
  registry_.RegisterFileFormat("MAG", "MAki chan Graphic format", &MagClass());
  registry_.RegisterFileFormat("dib", "Device Independent Bitmap", &DibImageClass());
  registry_.RegisterClipboardFormat(8, &DibImageClass());
  registry_.RegisterFileFormat("PNG", "PNG Format", &PngEncoderClass());
}

const GraphicClass* Loader::ClassFromContent(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Error("Cannot open file \"" + path + "\": " + std::strerror(errno));
  for (const GraphicClass* cls : formats_.ContentDetectionOrder()) {
    in.clear();
    in.seekg(0);
    if (cls->recognises(in)) return cls;
  }
  return nullptr;
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path) const {
  const std::string extension = ExtensionOf(path);
  const GraphicClass* cls = registry_.FindExtension(extension);
  if (!cls) throw InvalidGraphicError("拡張子 ." + extension + " の画像形式は処理できません");
  auto graphic = cls->create();
  graphic->LoadFromFile(path);
  return graphic;
}

std::unique_ptr<Graphic> Loader::LoadFile(const std::string& path) const {
  if (const GraphicClass* cls = ClassFromContent(path)) {
    try {
      auto graphic = cls->create();
      graphic->LoadFromFile(path);
      return graphic;
    } catch (const Error&) {
      // A file claimed by content but not decodable gets a second chance by
      // its extension. Running out of memory or a bug is no such case.
    }
  }
  return LoadByExtension(path);
}

}  // namespace velmora
