// The table of input formats: the one place that lists them. A new format
// is its folder under formats/ (reader and descriptor), one declaration and
// one entry here.
#include <algorithm>
#include <map>
#include <set>

#include "formats/input_format.h"
#include "formats/registry.h"

namespace velmora {

// Each defined beside its reader.
const InputFormat& BmpFormat();
const InputFormat& IconFormat();
const InputFormat& MetafileFormat();
const InputFormat& JpegFormat();
const InputFormat& TargaFormat();
const InputFormat& TiffFormat();
const InputFormat& EpsFormat();
const InputFormat& PcxFormat();
const InputFormat& RlaFormat();
const InputFormat& SgiFormat();
const InputFormat& PsdFormat();
const InputFormat& PnmFormat();
const InputFormat& AutodeskFormat();
const InputFormat& PcdFormat();
const InputFormat& CutFormat();
const InputFormat& PspFormat();
const InputFormat& PngFormat();
const InputFormat& WebpFormat();
const InputFormat& HeifFormat();
const InputFormat& JxlFormat();
const InputFormat& GifFormat();
const InputFormat& MagFormat();

const std::vector<const InputFormat*>& InputFormats() {
  // The side formats are asked by content in this order.
  static const std::vector<const InputFormat*> table = {
      &BmpFormat(),  &IconFormat(), &MetafileFormat(), &JpegFormat(),     &TargaFormat(), &TiffFormat(),
      &EpsFormat(),  &PcxFormat(),  &RlaFormat(),      &SgiFormat(),      &PsdFormat(),   &PnmFormat(),
      &AutodeskFormat(), &PcdFormat(), &CutFormat(),   &PspFormat(),      &PngFormat(),   &WebpFormat(),
      &HeifFormat(), &JxlFormat(),  &GifFormat(),  &MagFormat(),
  };
  return table;
}

const InputFormat* FormatOf(const GraphicClass* cls) {
  for (const InputFormat* format : InputFormats())
    for (const InputRow& row : format->rows)
      if (&row.graphic_class() == cls) return format;
  return nullptr;
}

std::string OpenDialogFilter() {
  // An extension's text: its own description where its side-format row has
  // one, else that row's, else its registration's.
  struct Entry {
    std::string description;
    bool side = false;
  };
  std::map<std::string, Entry> of_old;
  std::vector<std::pair<std::string, std::string>> additions;
  for (const InputFormat* format : InputFormats()) {
    if (!format->picture) continue;
    for (const InputRow& row : format->rows) {
      if (row.kind == Registration::kClipboard || row.kind == Registration::kEarly) continue;
      const std::string extension = LowerAscii(row.extension);
      const bool side = row.kind == Registration::kSideFormat;
      const std::string text = *row.own_description ? row.own_description : row.description;
      if (!format->listed_of_old) {
        if (std::none_of(additions.begin(), additions.end(), [&](const auto& a) { return a.first == extension; }))
          additions.emplace_back(extension, text);
        continue;
      }
      Entry& entry = of_old[extension];
      if (entry.description.empty() || (side && !entry.side)) entry = Entry{text, side};
    }
  }
  std::string patterns = "|";
  std::string pieces;
  for (const auto& [extension, entry] : of_old) {
    patterns += "*." + extension + ";";
    pieces += "|" + entry.description + " (*." + extension + ")|*." + extension;
  }
  for (const auto& [extension, text] : additions) {
    patterns += "*." + extension + ";";
    pieces += "|" + text + " (*." + extension + ")|*." + extension;
  }
  return patterns + pieces;
}

std::vector<std::string> PictureMimeTypes() {
  std::vector<std::string> types;
  std::set<std::string> seen;
  for (const InputFormat* format : InputFormats()) {
    if (!format->picture) continue;
    for (const char* type : format->mime_types)
      if (seen.insert(type).second) types.push_back(type);
  }
  return types;
}

std::string DesktopMimeTypes(bool folders) {
  std::string list;
  for (const std::string& type : PictureMimeTypes()) list += type + ";";
  return folders ? list + "inode/directory;" : list;
}

}  // namespace velmora
