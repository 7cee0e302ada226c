#include "formats/registry.h"
#include "base/error.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {


void GraphicRegistry::RegisterFileFormat(const std::string& extension, const std::string& description,
                                         const GraphicClass* cls) {
  file_formats_.push_back(FileFormat{LowerAscii(extension), description, cls});
}

void GraphicRegistry::RegisterClipboardFormat(uint32_t format, const GraphicClass* cls) {
  clipboard_formats_.push_back(ClipboardFormat{format, cls});
}

const GraphicClass* GraphicRegistry::FindExtension(const std::string& extension) const {
  const std::string wanted = LowerAscii(extension);
  for (auto it = file_formats_.rbegin(); it != file_formats_.rend(); ++it)
    if (it->extension == wanted) return it->graphic_class;
  return nullptr;
}

void GraphicRegistry::UnregisterClass(const GraphicClass* cls) {
  std::erase_if(file_formats_, [cls](const FileFormat& f) { return f.graphic_class == cls; });
}

std::string GraphicRegistry::DescriptionOf(const std::string& extension) const {
  const std::string wanted = LowerAscii(extension);
  for (auto it = file_formats_.rbegin(); it != file_formats_.rend(); ++it)
    if (it->extension == wanted) return it->description;
  return {};
}

const GraphicClass* GraphicRegistry::FindClipboardFormat(uint32_t format) const {
  for (auto it = clipboard_formats_.rbegin(); it != clipboard_formats_.rend(); ++it)
    if (it->format == format) return it->graphic_class;
  return nullptr;
}

void FileFormatList::Register(const std::string& extension, const std::string& common_description,
                              const std::string& description, const GraphicClass* cls, bool replace) {
  const std::string ext = LowerAscii(extension);
  auto known =
      std::find_if(extensions_.begin(), extensions_.end(), [&](const Extension& e) { return e.extension == ext; });
  if (known != extensions_.end()) {
    if (!replace) throw Error(ErrorKind::kInternal, "Attempt to register " + ext + " twice.");
    known->graphic_class = cls;
    known->description = description;
  } else {
    extensions_.push_back(Extension{ext, description, cls});
  }
  if (std::find(classes_.begin(), classes_.end(), cls) == classes_.end()) classes_.push_back(cls);
  registry_.RegisterFileFormat(ext, description.empty() ? common_description : description, cls);
}

std::vector<const GraphicClass*> FileFormatList::ContentDetectionOrder() const {
  std::vector<const GraphicClass*> out;
  for (const GraphicClass* cls : classes_)
    if (cls->recognises) out.push_back(cls);
  return out;
}

}  // namespace velmora
