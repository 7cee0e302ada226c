// An input format as one value, defined beside its reader: the classes that
// read it and the extensions they are registered under, its signature for
// the loader's second chance, and what the programs list about it (the
// Open dialog's filter, --list-formats, the desktop entry's MIME types).
// Every list of input formats is made from the table of these values
// (InputFormats()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/graphic.h"

namespace velmora {

// When a row is registered. The loader registers every row of the first
// kind (the desktop's own extensions), then every side format, then the
// classes registered after them; within a kind, in the table's order. A
// later registration of an extension wins.
enum class Registration {
  kEarly,      // GraphicRegistry, before FileFormatList: wmf, emf, ico, bmp, jpeg, jpg
  kClipboard,  // GraphicRegistry's clipboard list
  kSideFormat, // FileFormatList: passed on to GraphicRegistry; a class with a content test is asked by content
  kLate,       // GraphicRegistry, after FileFormatList: GIF, MAG, dib, PNG
};

struct InputRow {
  Registration kind;
  const GraphicClass& (*graphic_class)();
  const char* extension;        // as registered ("GIF" keeps its case); empty for a clipboard row
  const char* description = "";  // the class's description, common to its extensions
  const char* own_description = "";  // kSideFormat: the extension's own, when it has one
  uint32_t clipboard = 0;       // kClipboard: the clipboard format
};

struct InputFormat {
  const char* name;  // "Targa", for the architecture notes and tests
  std::vector<InputRow> rows;
  // The format's signature, for a file its extension's class could not
  // read; nullptr: the format is never sniffed.
  bool (*signature)(const uint8_t* data, size_t size) = nullptr;
  // Icons and metafiles are known but never become pictures.
  bool picture = true;
  // Listed in the Open dialog's filter as the desktop program always listed
  // it; the others follow as additions.
  bool listed_of_old = true;
  // What the desktop entry offers "Open with" for.
  std::vector<const char*> mime_types;
};

// Every input format, in registration order.
const std::vector<const InputFormat*>& InputFormats();

// The format a class belongs to (two classes may read one format with two
// policies: the lenient bitmap and the strict DIB, the two PNG readers);
// nullptr for a class no format has (a Susie plug-in's).
const InputFormat* FormatOf(const GraphicClass* cls);

// The Open dialog's filter after its first description: every pattern, then
// description and pattern per extension ("|*.bmp;...|Windows bitmaps
// (*.bmp)|*.bmp|..."); the formats listed of old in name order, then the
// additions in table order.
std::string OpenDialogFilter();

// The MIME types of the picture formats, each once, in table order.
std::vector<std::string> PictureMimeTypes();
// What a desktop entry offers "Open with" and "Send To" for: those types,
// and folders when asked (a file manager's own actions and menus only: an
// application entry claiming folders may become their default handler),
// each followed by ";".
std::string DesktopMimeTypes(bool folders = false);

}  // namespace velmora
