// The loader chain: content detection among the side formats first, then the
// class registered for the extension.
#pragma once

#include <memory>
#include <string>

#include "base/paths.h"
#include "formats/registry.h"
#include "image/limits.h"

namespace velmora {

class Loader {
 public:
  // Registers every built-in class in the start-up order. limits: what
  // reading and decoding one input may spend.
  explicit Loader(const DecodeLimits& limits = DecodeLimits{});
  Loader(const Loader&) = delete;
  Loader& operator=(const Loader&) = delete;

  // The first side-format class that recognises the file's content, or nullptr.
  // A file that cannot be read raises.
  const GraphicClass* ClassFromContent(const std::string& path) const;
  const GraphicClass* ClassFromContent(const uint8_t* data, size_t size) const;
  // Loads a file by content, then by extension (a second chance by extension
  // when the content class fails and the extension names another format),
  // then by signature when the extension's class fails. A content class's
  // refusal is the error raised, unless it only said the data contradicts
  // its format and the extension's class failed too; a file no class
  // recognises raises the extension class's error, or InvalidGraphicError
  // "拡張子 .<ext> の画像形式は処理できません" when no class has the
  // extension.
  std::unique_ptr<Graphic> LoadFile(const std::string& path) const;
  // The same with what the caller asks beyond the pixels.
  std::unique_ptr<Graphic> LoadFile(const std::string& path, const DecodeRequest& request) const;
  // LoadFile on bytes already read; path names the file for its extension
  // and for the files that travel with it.
  std::unique_ptr<Graphic> Load(const std::string& path, const uint8_t* data, size_t size) const;
  std::unique_ptr<Graphic> Load(const std::string& path, const uint8_t* data, size_t size,
                                const DecodeRequest& request) const;
  // Bytes with no name to go by (a pipe): the class their content or their
  // signature names; nullptr when none does.
  std::unique_ptr<Graphic> LoadByContent(const uint8_t* data, size_t size, const DecodeRequest& request) const;
  // Loads a file by its extension only.
  std::unique_ptr<Graphic> LoadByExtension(const std::string& path) const;
  // Decodes data with the class registered for path's extension.
  std::unique_ptr<Graphic> LoadByExtension(const std::string& path, const uint8_t* data, size_t size) const;

  const DecodeLimits& Limits() const { return limits_; }
  void SetLimits(const DecodeLimits& limits) { limits_ = limits; }
  // What every load asks by default (the standard CMYK profile found).
  const DecodeRequest& Request() const { return request_; }
  void SetRequest(const DecodeRequest& request) { request_ = request; }

  GraphicRegistry& Registry() { return registry_; }
  const GraphicRegistry& Registry() const { return registry_; }
  FileFormatList& Formats() { return formats_; }
  const FileFormatList& Formats() const { return formats_; }

 private:
  std::unique_ptr<Graphic> LoadByExtension(const std::string& path, const uint8_t* data, size_t size,
                                           const GraphicClass* tried, const DecodeRequest& request) const;

  std::unique_ptr<Graphic> Decode(const GraphicClass& cls, const std::string& path, const uint8_t* data,
                                  size_t size, const DecodeRequest& request) const;

  DecodeLimits limits_;
  DecodeRequest request_;
  GraphicRegistry registry_;
  FileFormatList formats_{registry_};
};

// The class a file's signature names among the formats read here (JPEG,
// PNG, GIF, BMP, TIFF, MAG, WebP, HEIF/AVIF), or nullptr: the second chance
// for a file its extension's class could not decode.
const GraphicClass* ClassFromSignature(const uint8_t* data, size_t size);


}  // namespace velmora
