// The PDF layer: an object model of a PDF 1.2 file, a document with catalog,
// information dictionary, page tree, fonts and image XObjects, a page canvas
// writing content operators, and the serialisation with xref and trailer.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "image/conversion_context.h"
#include "image/dib_image.h"

namespace velmora {

class PdfWriter;
class PdfXref;

class PdfObject {
 public:
  enum class State { kDirect, kIndirect, kReference };
  virtual ~PdfObject() = default;
  State state = State::kDirect;
  int number = -1;
  int generation = 0;
  virtual void Write(PdfWriter& out) const = 0;
};

class PdfNull : public PdfObject {
 public:
  void Write(PdfWriter& out) const override;
};
class PdfBoolean : public PdfObject {
 public:
  explicit PdfBoolean(bool v) : value(v) {}
  bool value;
  void Write(PdfWriter& out) const override;
};
class PdfNumber : public PdfObject {
 public:
  explicit PdfNumber(int32_t v) : value(v) {}
  int32_t value;
  void Write(PdfWriter& out) const override;
};
class PdfReal : public PdfObject {
 public:
  explicit PdfReal(double v) : value(v) {}
  double value;
  void Write(PdfWriter& out) const override;
};
class PdfText : public PdfObject {
 public:
  explicit PdfText(std::string v) : value(std::move(v)) {}
  std::string value;
  void Write(PdfWriter& out) const override;
};
class PdfName : public PdfObject {
 public:
  explicit PdfName(std::string v) : value(std::move(v)) {}
  std::string value;
  void Write(PdfWriter& out) const override;
};
class PdfBinary : public PdfObject {
 public:
  std::string bytes;
  void Write(PdfWriter& out) const override;
};
class PdfReference : public PdfObject {
 public:
  // "virtualObject must be create by CreateVirtual method." without a number.
  explicit PdfReference(int target_number);
  int target;
  void Write(PdfWriter& out) const override;
};

class PdfArray : public PdfObject {
 public:
  // An indirect object is stored as a new reference to it.
  void Add(std::unique_ptr<PdfObject> item);
  void Add(const PdfObject* indirect);
  size_t Size() const { return items_.size(); }
  PdfObject* At(size_t i) const { return items_[i].get(); }
  void Replace(size_t i, std::unique_ptr<PdfObject> item) { items_[i] = std::move(item); }
  bool ContainsName(const std::string& name) const;
  void Write(PdfWriter& out) const override;

 private:
  std::vector<std::unique_ptr<PdfObject>> items_;
};

class PdfDictionary : public PdfObject {
 public:
  // Setting a key removes an existing entry first, so it moves last.
  void Set(const std::string& key, std::unique_ptr<PdfObject> value, bool hidden = false);
  void Set(const std::string& key, const PdfObject* indirect);
  // The value in place, keeping the entry's position (or appended when new).
  void Replace(const std::string& key, std::unique_ptr<PdfObject> value);
  void Remove(const std::string& key);
  // The value, following a reference through xref when given; nullptr when absent.
  PdfObject* Get(const std::string& key, const PdfXref* xref = nullptr) const;
  std::vector<std::string> Keys() const;
  void Write(PdfWriter& out) const override;
  // Writes the dictionary with the value of one existing key replaced for
  // this output only (a stream's Length, known once its data is).
  void WriteReplacing(PdfWriter& out, const std::string& key, const PdfObject* value) const;

 private:
  struct Entry {
    std::string key;
    std::unique_ptr<PdfObject> value;
    bool hidden;
  };
  std::vector<Entry> entries_;
};

class PdfStream : public PdfObject {
 public:
  PdfStream();
  PdfDictionary dict;
  std::string buffer;
  // Bytes already compressed with Flate (image data is compressed as it is made).
  bool precompressed = false;
  // More precompressed data after buffer, in pieces of at most a mebibyte:
  // a big picture's stream grows without the slack and the copies of one
  // string doubling its room.
  std::vector<std::string> pieces;
  void Append(const uint8_t* data, size_t size);
  // Or made when the stream is written, already compressed: into a scratch
  // file of the context's (in memory without one), whose size is then the
  // Length, and from there into the file. A picture's stream thus never
  // waits in memory for the file.
  std::function<void(std::ostream&)> produce;
  const ConversionContext* context = nullptr;
  // buffer and the pieces after it, as the file holds them.
  std::string Data() const;
  void Write(PdfWriter& out) const override;
};

class PdfXref {
 public:
  PdfXref();
  // Registers an object: it becomes indirect with the next number.
  PdfObject* AddObject(std::unique_ptr<PdfObject> object);
  PdfObject* Find(int number) const;
  size_t Count() const { return objects_.size() + 1; }
  const std::vector<std::unique_ptr<PdfObject>>& Objects() const { return objects_; }

 private:
  std::vector<std::unique_ptr<PdfObject>> objects_;
};

class PdfDocument;

class PdfCanvas {
 public:
  explicit PdfCanvas(PdfDocument& doc) : doc_(doc) {}
  PdfDictionary* Page() const { return page_; }
  PdfStream* Contents() const { return contents_; }
  void SetPage(PdfDictionary* page, PdfStream* contents);
  void SetPageWidth(int width);
  void SetPageHeight(int height);
  int PageHeight() const;
  void SelectFont(const std::string& name, double size);
  void DrawXObject(double x, double y, double width, double height, const std::string& name);
  // Appends one operator line (ending in LF).
  void Write(const std::string& line);

 private:
  void SetMediaBox(size_t index, int value);
  PdfDocument& doc_;
  PdfDictionary* page_ = nullptr;
  PdfStream* contents_ = nullptr;
  std::string font_name_;
  double font_size_ = 0, char_space_ = 0, word_space_ = 0, h_scaling_ = 100, leading_ = 0;
};

enum class PdfCompression { cmNone, cmFlateDecode };

class PdfDocument {
 public:
  PdfDocument(bool use_outlines = false, PdfCompression compression = PdfCompression::cmFlateDecode);
  ~PdfDocument();
  void CreateDocument();
  bool HasDocument() const { return created_; }
  void AddPage();
  // Registers an image XObject under a name.
  void AddImage(const std::string& name, std::unique_ptr<PdfStream> image);
  // The ICC profile stream of an RGB profile, made once per document for the
  // same bytes; a document that has one is written as PDF 1.3, where
  // ICCBased colour spaces begin.
  const PdfObject* IccProfile(const std::vector<uint8_t>& icc);
  bool HasXObject(const std::string& name) const;
  PdfObject* FindXObject(const std::string& name) const;
  PdfDictionary& GetFont(const std::string& name);
  PdfCanvas& Canvas();
  PdfDictionary& Info();
  PdfDictionary& Catalog();
  // Text entries of the information dictionary; dates take the local time now.
  void SetInfoText(const std::string& key, const std::string& value);
  void StampDate(const std::string& key);
  void SetPageMode(int index);
  void SetPageLayout(int index);
  void SaveToStream(std::ostream& out);
  const PdfXref& Xref() const { return *xref_; }
  // Where the pictures' streams wait to be written (none: in memory).
  void SetContext(const ConversionContext* context) { context_ = context; }
  const ConversionContext* Context() const { return context_; }

  // Spooling, for documents of many pages: every object numbered after the
  // document's own (pages printed, their contents, fonts and images) goes to
  // spool in number order with FlushFinishedObjects and leaves memory.
  // FinishSpooling writes to out the header and the document's own objects,
  // then has copy_spool copy what spool holds, then the rest, the
  // cross-reference table and the trailer: the bytes SaveToStream writes
  // for the same pages. spool must outlive the document's use of it.
  void StartSpooling(std::ostream& spool);
  void FlushFinishedObjects();
  void FinishSpooling(std::ostream& out, const std::function<void(std::ostream&)>& copy_spool);

  static constexpr int kDefaultWidth = 596;
  static constexpr int kDefaultHeight = 842;

 private:
  PdfDictionary& CreateFont(const std::string& name);
  std::unique_ptr<PdfXref> xref_;
  std::unique_ptr<PdfDictionary> trailer_;
  PdfDictionary* catalog_ = nullptr;
  PdfDictionary* info_ = nullptr;
  PdfDictionary* pages_ = nullptr;
  std::vector<std::pair<std::string, PdfDictionary*>> fonts_;
  std::vector<PdfStream*> xobjects_;
  std::vector<std::pair<std::vector<uint8_t>, const PdfObject*>> profiles_;
  const char* Header() const { return profiles_.empty() ? "%PDF-1.2 " : "%PDF-1.3 "; }
  std::unique_ptr<PdfCanvas> canvas_;
  const ConversionContext* context_ = nullptr;
  std::unique_ptr<PdfWriter> spool_;
  std::ostream* spool_stream_ = nullptr;
  std::vector<uint64_t> offsets_;  // by object number - 1; 0 until written
  size_t head_ = 0;                 // objects written before the spool's
  size_t next_spooled_ = 0;         // the first object the spool has not taken
  void SpoolFinishedObjects();
  void WriteObjects(PdfWriter& out);
  void WriteTail(PdfWriter& out);
  bool use_outlines_;
  PdfCompression compression_;
  bool created_ = false;
};

// "/" and the escaped name.
std::string PdfEscapeName(const std::string& name);
// A text string: (escaped) or <FEFF001B656E001B + UTF-16> for multi-byte text.
std::string PdfEscapeText(const std::string& text);
// Numbers rounded to two decimals in the shortest form: 640, 0.5, 0.33.
std::string PdfFormatNumber(double value);
// "D:" and the local time now as YYYYMMDDHHMMSS.
std::string PdfDateNow();

// An image XObject from a DibImage ("Pdf-Bitmap"): 1, 4 and 8-bit images
// become 8-bit indexed with a 256-entry table, others 24-bit DeviceRGB. The
// pixels are compressed straight from the image's rows. With icc (an
// IccProfile of the document) the RGB is that profile's, as an ICCBased space.
// The stream is made when the document is written (context: where it waits
// until its length is known).
std::unique_ptr<PdfStream> CreatePdfBitmapImage(const DibImage& image, const PdfObject* icc = nullptr,
                                                const ConversionContext* context = nullptr);

}  // namespace velmora
