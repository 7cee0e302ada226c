#include "formats/loader.h"
#include "base/messages.h"

#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "formats/formats.h"
#include "image/byte_order.h"
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
    {Via::kSideFormats, TargaClass, "win", "Truevision images", ""},
    {Via::kSideFormats, TargaClass, "vst", "Truevision images", ""},
    {Via::kSideFormats, TargaClass, "vda", "Truevision images", ""},
    {Via::kSideFormats, TargaClass, "tga", "Truevision images", ""},
    {Via::kSideFormats, TargaClass, "icb", "Truevision images", ""},
    {Via::kSideFormats, TiffClass, "tiff", "Tagged image file format images", "Macintosh TIFF images"},
    {Via::kSideFormats, TiffClass, "tif", "Tagged image file format images", "PC TIF images"},
    {Via::kSideFormats, TiffClass, "fax", "Tagged image file format images", "GFI fax images"},
    {Via::kSideFormats, EpsClass, "eps", "Encapsulated Postscript images", ""},
    {Via::kSideFormats, PcxClass, "pcx", "ZSoft Paintbrush images", ""},
    {Via::kSideFormats, PcxClass, "pcc", "ZSoft Paintbrush images", ""},
    {Via::kSideFormats, PcxClass, "scr", "ZSoft Paintbrush images", "Word 5.x screen capture images"},
    {Via::kSideFormats, RlaClass, "rpf", "Alias/Wavefront images", ""},
    {Via::kSideFormats, RlaClass, "rla", "Alias/Wavefront images", ""},
    {Via::kSideFormats, SgiClass, "sgi", "SGI images", "SGI true color images"},
    {Via::kSideFormats, SgiClass, "rgba", "SGI images", "SGI true color images with alpha"},
    {Via::kSideFormats, SgiClass, "rgb", "SGI images", "SGI true color images"},
    {Via::kSideFormats, SgiClass, "bw", "SGI images", "SGI black/white images"},
    {Via::kSideFormats, PsdClass, "psd", "Photoshop images", ""},
    {Via::kSideFormats, PsdClass, "pdd", "Photoshop images", ""},
    {Via::kSideFormats, PnmClass, "ppm", "Portable map images", "Portable pixel map images"},
    {Via::kSideFormats, PnmClass, "pgm", "Portable map images", "Portable gray map images"},
    {Via::kSideFormats, PnmClass, "pbm", "Portable map images", "Portable bitmap images"},
    {Via::kSideFormats, AutodeskClass, "cel", "Autodesk images", ""},
    {Via::kSideFormats, AutodeskClass, "pic", "Autodesk images", ""},
    {Via::kSideFormats, PcdClass, "pcd", "Kodak Photo-CD images", ""},
    {Via::kSideFormats, CutClass, "cut", "Dr. Halo images", ""},
    {Via::kSideFormats, PspClass, "psp", "Paintshop Pro images", ""},
    {Via::kSideFormats, PngSideClass, "png", "Portable network graphic images", ""},
    // Today's formats, after the side formats of old: by content and by
    // extension alike.
    {Via::kSideFormats, WebpClass, "webp", "WebP images", ""},
    {Via::kSideFormats, HeifClass, "heic", "HEIF images", "High efficiency images"},
    {Via::kSideFormats, HeifClass, "heif", "HEIF images", "High efficiency images"},
    {Via::kSideFormats, HeifClass, "avif", "HEIF images", "AV1 images"},
    // The classes registered after FileFormatList.
    {Via::kRegistry, GifClass, "GIF", "GIF Image", ""},
    {Via::kClipboard, GifClass, "", "", "", 0xC000},  // "GIF Image"
    {Via::kRegistry, MagClass, "MAG", "MAki chan Graphic format", ""},
    {Via::kRegistry, DibImageClass, "dib", "Device Independent Bitmap", ""},
    {Via::kClipboard, DibImageClass, "", "", "", 8},
    {Via::kRegistry, PngEncoderClass, "PNG", "PNG Format", ""},
};

}  // namespace

Loader::Loader(const DecodeLimits& limits) : limits_(limits) {
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
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, limits_.max_file);
  return ClassFromContent(data.data(), data.size());
}

const GraphicClass* Loader::ClassFromContent(const uint8_t* data, size_t size) const {
  for (const GraphicClass* cls : formats_.ContentDetectionOrder())
    if (cls->recognises(data, size)) return cls;
  return nullptr;
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path) const {
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, limits_.max_file);
  return LoadByExtension(path, data.data(), data.size());
}

namespace {

// The files that travel with a picture: same folder and name, another
// extension. Small, and optional: anything unreadable counts as absent.
Graphic::Companion CompanionOf(const std::string& path) {
  return [path](const std::string& extension) -> std::optional<std::vector<uint8_t>> {
    const std::string name = FileNameOf(path);
    const size_t dot = name.rfind('.');
    const std::string sibling = FolderOf(path) + (dot == std::string::npos ? name : name.substr(0, dot)) + "." + extension;
    try {
      return platform::ReadRegularFile(sibling, 1 << 20);
    } catch (const Error&) {
      return std::nullopt;
    }
  };
}

// Classes that read one format with two policies (the lenient bitmap class
// and the strict DibImage; the two PNG readers) are the same format: the
// second chance is for a picture of another format.
bool SameFormat(const GraphicClass* a, const GraphicClass* b) {
  auto family = [](const GraphicClass* cls) -> const GraphicClass* {
    if (cls == &DibImageClass()) return &BitmapClass();
    if (cls == &PngEncoderClass()) return &PngSideClass();
    return cls;
  };
  return family(a) == family(b);
}

}  // namespace

std::unique_ptr<Graphic> Loader::Decode(const GraphicClass& cls, const std::string& path, const uint8_t* data,
                                        size_t size) const {
  auto graphic = cls.create();
  graphic->SetCompanion(CompanionOf(path));
  graphic->SetFileName(path);
  graphic->SetLimits(limits_);
  graphic->LoadFromMemory(data, size);
  return graphic;
}

const GraphicClass* ClassFromSignature(const uint8_t* data, size_t size) {
  auto starts = [&](const char* text, size_t length) { return size >= length && std::memcmp(data, text, length) == 0; };
  if (starts("\xFF\xD8\xFF", 3)) return &JpegClass();
  if (starts("\x89PNG\r\n\x1A\n", 8)) return &PngSideClass();
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return &GifClass();
  if (starts("MAKI0", 5)) return &MagClass();
  if (starts("BM", 2) && size >= 26) {
    const uint32_t header = GetLe32(data + 14);
    if (header == 12 || header == 40 || header == 52 || header == 56 || header == 64 || header == 108 || header == 124)
      return &BitmapClass();
  }
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return &TiffClass();
  if (WebpClass().recognises(data, size)) return &WebpClass();
  if (HeifClass().recognises(data, size)) return &HeifClass();
  return nullptr;
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path, const uint8_t* data, size_t size) const {
  return LoadByExtension(path, data, size, nullptr);
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path, const uint8_t* data, size_t size,
                                                 const GraphicClass* tried) const {
  const std::string extension = ExtensionOf(path);
  const GraphicClass* cls = registry_.FindExtension(extension);
  if (!cls) throw InvalidGraphicError(Tr("拡張子 .{1} の画像形式は処理できません", {extension}));
  try {
    return Decode(*cls, path, data, size);
  } catch (const Error&) {
    // A picture saved under another format's extension (a JPEG named .png
    // is common in downloads) is read by what its signature says. When that
    // fails too, the extension's error is the one to report.
    const GraphicClass* sniffed = ClassFromSignature(data, size);
    if (!sniffed || SameFormat(sniffed, cls) || (tried && SameFormat(sniffed, tried))) throw;
    const std::exception_ptr first = std::current_exception();
    try {
      return Decode(*sniffed, path, data, size);
    } catch (const Error&) {
      std::rethrow_exception(first);
    }
  }
}

std::unique_ptr<Graphic> Loader::LoadFile(const std::string& path) const {
  // Read once: content detection and every attempt work on the same bytes.
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, limits_.max_file);
  return Load(path, data.data(), data.size());
}

namespace {

// A refusal for data that contradicts the format may mean the content test
// took a file of another format for its own; any other refusal (too large,
// cut short, a variant not read) says the file is of that format.
bool MayBeAnotherFormat(const std::exception_ptr& refusal) {
  try {
    std::rethrow_exception(refusal);
  } catch (const DecodeError& e) {
    return e.Kind() == DecodeKind::kInvalidData;
  } catch (const Error&) {
    return true;
  }
}

}  // namespace

std::unique_ptr<Graphic> Loader::Load(const std::string& path, const uint8_t* data, size_t size) const {
  const GraphicClass* content = ClassFromContent(data, size);
  if (!content) return LoadByExtension(path, data, size);
  std::exception_ptr refusal;
  try {
    return Decode(*content, path, data, size);
  } catch (const Error&) {
    // A file claimed by content but not decodable gets a second chance by
    // its extension, unless that names the same format. Running out of
    // memory or a bug is no such case.
    refusal = std::current_exception();
  }
  const GraphicClass* by_extension = registry_.FindExtension(ExtensionOf(path));
  if (!by_extension || SameFormat(by_extension, content)) std::rethrow_exception(refusal);
  try {
    return LoadByExtension(path, data, size, content);
  } catch (const Error&) {
    if (MayBeAnotherFormat(refusal)) throw;
    std::rethrow_exception(refusal);
  }
}

}  // namespace velmora
