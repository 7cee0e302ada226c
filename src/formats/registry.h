// The two registries that choose a decoder: GraphicRegistry by extension (and
// clipboard format), FileFormatList for the side formats recognised by content.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/text.h"
#include "formats/graphic.h"

namespace velmora {

class GraphicRegistry {
 public:
  struct FileFormat {
    std::string extension;  // lower case, no dot
    std::string description;
    const GraphicClass* graphic_class;
  };
  struct ClipboardFormat {
    uint32_t format;
    const GraphicClass* graphic_class;
  };

  void RegisterFileFormat(const std::string& extension, const std::string& description, const GraphicClass* cls);
  void RegisterClipboardFormat(uint32_t format, const GraphicClass* cls);
  // Removes every file-format registration of the class.
  void UnregisterClass(const GraphicClass* cls);
  // The most recent registration of the extension (any case), or nullptr.
  const GraphicClass* FindExtension(const std::string& extension) const;
  const GraphicClass* FindClipboardFormat(uint32_t format) const;
  // The description of the registration FindExtension finds; empty if none.
  std::string DescriptionOf(const std::string& extension) const;
  const std::vector<FileFormat>& FileFormats() const { return file_formats_; }

 private:
  std::vector<FileFormat> file_formats_;
  std::vector<ClipboardFormat> clipboard_formats_;
};

class FileFormatList {
 public:
  explicit FileFormatList(GraphicRegistry& registry) : registry_(registry) {}

  // Registers one extension; raises "Attempt to register <ext> twice." when the
  // extension is known and replace is false.
  void Register(const std::string& extension, const std::string& common_description, const std::string& description,
                const GraphicClass* cls, bool replace = false);
  // Classes in the order of their first registration.
  const std::vector<const GraphicClass*>& Classes() const { return classes_; }
  // The side-format classes in class-list order: the content detection order.
  std::vector<const GraphicClass*> ContentDetectionOrder() const;

 private:
  struct Extension {
    std::string extension;
    std::string description;
    const GraphicClass* graphic_class;
  };
  GraphicRegistry& registry_;
  std::vector<const GraphicClass*> classes_;
  std::vector<Extension> extensions_;
};


}  // namespace velmora
