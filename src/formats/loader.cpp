#include "formats/loader.h"

#include "formats/metadata.h"
#include "base/messages.h"

#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "base/paths.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"
#include "platform/platform.h"

namespace velmora {

Loader::Loader(const DecodeLimits& limits) : limits_(limits) {
  for (Registration kind :
       {Registration::kEarly, Registration::kClipboard, Registration::kSideFormat, Registration::kLate}) {
    for (const InputFormat* format : InputFormats()) {
      for (const InputRow& row : format->rows) {
        if (row.kind != kind) continue;
        const GraphicClass* cls = &row.graphic_class();
        switch (kind) {
          case Registration::kClipboard:
            registry_.RegisterClipboardFormat(row.clipboard, cls);
            break;
          case Registration::kSideFormat:
            formats_.Register(row.extension, row.description, row.own_description, cls);
            break;
          default:
            registry_.RegisterFileFormat(row.extension, row.description, cls);
            break;
        }
      }
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
    const std::string sibling = StemOf(path) + "." + extension;
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
  const InputFormat* format = FormatOf(a);
  return a == b || (format && format == FormatOf(b));
}

}  // namespace

std::unique_ptr<Graphic> Loader::Decode(const GraphicClass& cls, const std::string& path, const uint8_t* data,
                                        size_t size, const DecodeRequest& request) const {
  auto graphic = cls.create();
  if (!path.empty()) graphic->SetCompanion(CompanionOf(path));  // nameless bytes have no files beside them
  graphic->SetFileName(path);
  graphic->SetLimits(limits_);
  graphic->SetContext(request.context);
  graphic->SetRequest(request);
  graphic->LoadFromMemory(data, size);
  return graphic;
}

const GraphicClass* ClassFromSignature(const uint8_t* data, size_t size) {
  for (const InputFormat* format : InputFormats())
    if (format->signature && format->signature(data, size)) {
      // The format's first class by extension reads what the signature found.
      for (const InputRow& row : format->rows)
        if (row.kind != Registration::kClipboard) return &row.graphic_class();
    }
  return nullptr;
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path, const uint8_t* data, size_t size) const {
  return LoadByExtension(path, data, size, nullptr, request_);
}

std::unique_ptr<Graphic> Loader::LoadByExtension(const std::string& path, const uint8_t* data, size_t size,
                                                 const GraphicClass* tried, const DecodeRequest& request) const {
  const std::string extension = ExtensionOf(path);
  const GraphicClass* cls = registry_.FindExtension(extension);
  if (!cls) throw Error(ErrorKind::kUnsupported, Tr("拡張子 .{1} の画像形式は処理できません", {extension}));
  try {
    return Decode(*cls, path, data, size, request);
  } catch (const Error&) {
    // A picture saved under another format's extension (a JPEG named .png
    // is common in downloads) is read by what its signature says. When that
    // fails too, the extension's error is the one to report.
    const GraphicClass* sniffed = ClassFromSignature(data, size);
    if (!sniffed || SameFormat(sniffed, cls) || (tried && SameFormat(sniffed, tried))) throw;
    const std::exception_ptr first = std::current_exception();
    try {
      return Decode(*sniffed, path, data, size, request);
    } catch (const Error&) {
      std::rethrow_exception(first);
    }
  }
}

std::unique_ptr<Graphic> Loader::LoadFile(const std::string& path) const { return LoadFile(path, request_); }

std::unique_ptr<Graphic> Loader::LoadFile(const std::string& path, const DecodeRequest& request) const {
  // Read once: content detection and every attempt work on the same bytes.
  const std::vector<uint8_t> data = platform::ReadRegularFile(path, limits_.max_file);
  return Load(path, data.data(), data.size(), request);
}

namespace {

// A refusal for data that contradicts the format may mean the content test
// took a file of another format for its own; any other refusal (too large,
// cut short, a variant not read) says the file is of that format.
bool MayBeAnotherFormat(const std::exception_ptr& refusal) {
  try {
    std::rethrow_exception(refusal);
  } catch (const Error& e) {
    return e.Kind() == ErrorKind::kInvalidData;
  }
}

}  // namespace

std::unique_ptr<Graphic> Loader::LoadByContent(const uint8_t* data, size_t size, const DecodeRequest& request) const {
  const GraphicClass* cls = ClassFromContent(data, size);
  if (!cls) cls = ClassFromSignature(data, size);
  return cls ? Decode(*cls, "", data, size, request) : nullptr;
}

std::unique_ptr<Graphic> Loader::Load(const std::string& path, const uint8_t* data, size_t size) const {
  return Load(path, data, size, request_);
}

std::unique_ptr<Graphic> Loader::Load(const std::string& path, const uint8_t* data, size_t size,
                                      const DecodeRequest& request) const {
  const GraphicClass* content = ClassFromContent(data, size);
  if (!content) return LoadByExtension(path, data, size, nullptr, request);
  std::exception_ptr refusal;
  try {
    return Decode(*content, path, data, size, request);
  } catch (const Error&) {
    // A file claimed by content but not decodable gets a second chance by
    // its extension, unless that names the same format. Running out of
    // memory or a bug is no such case.
    refusal = std::current_exception();
  }
  const GraphicClass* by_extension = registry_.FindExtension(ExtensionOf(path));
  if (!by_extension || SameFormat(by_extension, content)) std::rethrow_exception(refusal);
  try {
    return LoadByExtension(path, data, size, content, request);
  } catch (const Error&) {
    if (MayBeAnotherFormat(refusal)) throw;
    std::rethrow_exception(refusal);
  }
}

}  // namespace velmora
