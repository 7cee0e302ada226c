#include "formats/pdf/pdf_document.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <sstream>

#include "base/messages.h"
#include "formats/deflate.h"
#include "platform/platform.h"

namespace velmora {

// The output with its position, so xref offsets come from what was written.
class PdfWriter {
 public:
  explicit PdfWriter(std::ostream& out) : out_(out) {}
  void Put(const std::string& s) { Put(s.data(), s.size()); }
  void Put(const char* data, size_t n) {
    out_.write(data, static_cast<std::streamsize>(n));
    pos_ += n;
  }
  uint64_t Position() const { return pos_; }
  // Bytes that reached the stream past this writer (a spool copied in).
  void Advance(uint64_t n) { pos_ += n; }
  std::ostream& Stream() { return out_; }
  const PdfXref* xref = nullptr;

 private:
  std::ostream& out_;
  uint64_t pos_ = 0;
};

namespace {

constexpr const char* kCrLf = "\r\n";

void WriteNumbered(PdfWriter& out, const PdfObject& object) {
  if (object.state != PdfObject::State::kIndirect) throw Error(ErrorKind::kInternal, Tr("internal error wrong object type"));
  out.Put(std::to_string(object.number) + " " + std::to_string(object.generation) + " obj" + kCrLf);
  object.Write(out);
  out.Put(std::string(kCrLf) + "endobj" + kCrLf);
}

std::unique_ptr<PdfObject> MakeReference(const PdfObject* indirect) {
  return std::make_unique<PdfReference>(indirect->number);
}

// Decodes one UTF-8 sequence; invalid bytes stand for themselves.
uint32_t NextCodePoint(const std::string& s, size_t& i) {
  const auto b = static_cast<unsigned char>(s[i]);
  int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
  uint32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
  if (i + static_cast<size_t>(extra) >= s.size() + (extra ? 0 : 1)) extra = 0, cp = b;
  for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += static_cast<size_t>(extra) + 1;
  return cp;
}

}  // namespace

std::string PdfEscapeName(const std::string& name) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out = "/";
  for (unsigned char c : name) {
    if (c < 33 || c > 126 || std::string("#%()/<>[]{}").find(static_cast<char>(c)) != std::string::npos) {
      out += '#';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string PdfEscapeText(const std::string& text) {
  const bool multibyte =
      std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
  if (multibyte) {
    std::string out = "<FEFF001B656E001B";
    char buf[8];
    for (size_t i = 0; i < text.size();) {
      uint32_t cp = NextCodePoint(text, i);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        std::snprintf(buf, sizeof buf, "%04X", 0xD800 + (cp >> 10));
        out += buf;
        cp = 0xDC00 + (cp & 0x3FF);
      }
      std::snprintf(buf, sizeof buf, "%04X", cp);
      out += buf;
    }
    return out + ">";
  }
  std::string out = "(";
  for (char c : text) {
    switch (c) {
      case '(':
        out += "\\(";
        break;
      case ')':
        out += "\\)";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        out += c;
    }
  }
  return out + ")";
}

std::string PdfFormatNumber(double value) {
  const double rounded = std::floor(value * 100 + 0.5) / 100;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", rounded);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string PdfDateNow() {
  // A fixed date (SOURCE_DATE_EPOCH) is shown in UTC, the clock in local time.
  std::tm local;
  const platform::FileClock clock = platform::FileTimeNow();
  if (clock.fixed)
    gmtime_r(&clock.when, &local);
  else
    localtime_r(&clock.when, &local);
  char buf[32];
  std::strftime(buf, sizeof buf, "D:%Y%m%d%H%M%S", &local);
  return buf;
}

void PdfNull::Write(PdfWriter& out) const { out.Put("null"); }
void PdfBoolean::Write(PdfWriter& out) const { out.Put(value ? "true" : "false"); }
void PdfNumber::Write(PdfWriter& out) const { out.Put(std::to_string(value)); }
void PdfReal::Write(PdfWriter& out) const { out.Put(PdfFormatNumber(value)); }
void PdfText::Write(PdfWriter& out) const { out.Put(PdfEscapeText(value)); }
void PdfName::Write(PdfWriter& out) const { out.Put(PdfEscapeName(value)); }
void PdfBinary::Write(PdfWriter& out) const { out.Put(bytes); }

PdfReference::PdfReference(int target_number) : target(target_number) {
  if (target_number < 0) throw Error(ErrorKind::kInternal, Tr("virtualObject must be create by CreateVirtual method."));
  state = State::kReference;
}

void PdfReference::Write(PdfWriter& out) const { out.Put(std::to_string(target) + " 0 R"); }

void PdfArray::Add(std::unique_ptr<PdfObject> item) { items_.push_back(std::move(item)); }
void PdfArray::Add(const PdfObject* indirect) { items_.push_back(MakeReference(indirect)); }

bool PdfArray::ContainsName(const std::string& name) const {
  return std::any_of(items_.begin(), items_.end(), [&](const auto& item) {
    const auto* n = dynamic_cast<const PdfName*>(item.get());
    return n && n->value == name;
  });
}

void PdfArray::Write(PdfWriter& out) const {
  out.Put("[");
  for (const auto& item : items_) {
    item->Write(out);
    out.Put(" ");
  }
  out.Put("]");
}

void PdfDictionary::Set(const std::string& key, std::unique_ptr<PdfObject> value, bool hidden) {
  Remove(key);
  entries_.push_back(Entry{key, std::move(value), hidden});
}

void PdfDictionary::Set(const std::string& key, const PdfObject* indirect) { Set(key, MakeReference(indirect)); }

void PdfDictionary::Replace(const std::string& key, std::unique_ptr<PdfObject> value) {
  for (auto& e : entries_) {
    if (e.key == key) {
      e.value = std::move(value);
      return;
    }
  }
  entries_.push_back(Entry{key, std::move(value), false});
}

void PdfDictionary::Remove(const std::string& key) {
  entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; }),
                 entries_.end());
}

PdfObject* PdfDictionary::Get(const std::string& key, const PdfXref* xref) const {
  for (const auto& e : entries_) {
    if (e.key != key) continue;
    if (auto* ref = dynamic_cast<PdfReference*>(e.value.get()); ref && xref) return xref->Find(ref->target);
    return e.value.get();
  }
  return nullptr;
}

std::vector<std::string> PdfDictionary::Keys() const {
  std::vector<std::string> keys;
  for (const auto& e : entries_)
    if (!e.hidden) keys.push_back(e.key);
  return keys;
}

void PdfDictionary::Write(PdfWriter& out) const { WriteReplacing(out, "", nullptr); }

void PdfDictionary::WriteReplacing(PdfWriter& out, const std::string& key, const PdfObject* value) const {
  out.Put(std::string("<<") + kCrLf);
  for (const auto& e : entries_) {
    if (e.hidden) continue;
    if (!e.value) throw Error(ErrorKind::kInternal, Tr("internal error. wrong object."));
    out.Put(PdfEscapeName(e.key) + " ");
    (value && e.key == key ? *value : *e.value).Write(out);
    out.Put(kCrLf);
  }
  out.Put(">>");
}

PdfStream::PdfStream() {
  dict.Set("Length", std::make_unique<PdfNumber>(0));
  dict.Set("Filter", std::make_unique<PdfArray>());
}

void PdfStream::Write(PdfWriter& out) const {
  if (produce) {
    const std::unique_ptr<ScratchFile> scratch = context ? context->MakeScratch() : MemoryScratchFile();
    produce(scratch->Out());
    const uint64_t size = scratch->Size();
    if (size > static_cast<uint64_t>(INT32_MAX))
      throw Error(ErrorKind::kTooLarge, Tr("a PDF stream of {1} bytes exceeds the format's limit", {std::to_string(size)}));
    const PdfNumber length(static_cast<int32_t>(size));
    dict.WriteReplacing(out, "Length", &length);
    out.Put(std::string(kCrLf) + "stream" + kCrLf);
    scratch->CopyTo(out.Stream());
    out.Advance(size);
    out.Put("\nendstream");
    return;
  }
  const auto* filter = dynamic_cast<const PdfArray*>(dict.Get("Filter"));
  std::string data;
  const std::string* bytes = &buffer;
  if (filter && filter->ContainsName("FlateDecode") && !precompressed) {
    uLongf size = compressBound(static_cast<uLong>(buffer.size()));
    data.resize(size);
    if (compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(buffer.data()),
                  static_cast<uLong>(buffer.size()), 9) != Z_OK)
      throw Error(ErrorKind::kInternal, Tr("stream compression failed"));
    data.resize(size);
    bytes = &data;
  }
  // Length comes from the data as written; the stored entry keeps its place.
  size_t size = bytes->size();
  for (const std::string& piece : pieces) size += piece.size();
  const PdfNumber length(static_cast<int32_t>(size));
  dict.WriteReplacing(out, "Length", &length);
  out.Put(std::string(kCrLf) + "stream" + kCrLf);
  out.Put(*bytes);
  for (const std::string& piece : pieces) out.Put(piece);
  out.Put("\nendstream");
}

std::string PdfStream::Data() const {
  if (produce) {
    std::ostringstream made;
    produce(made);
    return made.str();
  }
  std::string all = buffer;
  for (const std::string& piece : pieces) all += piece;
  return all;
}

void PdfStream::Append(const uint8_t* data, size_t size) {
  constexpr size_t kPiece = size_t{1} << 20;
  while (size > 0) {
    if (pieces.empty() || pieces.back().size() == kPiece) pieces.emplace_back().reserve(kPiece);
    std::string& last = pieces.back();
    const size_t take = std::min(size, kPiece - last.size());
    last.append(reinterpret_cast<const char*>(data), take);
    data += take, size -= take;
  }
}

PdfXref::PdfXref() = default;

PdfObject* PdfXref::AddObject(std::unique_ptr<PdfObject> object) {
  if (object->state != PdfObject::State::kDirect) throw Error(ErrorKind::kInternal, Tr("AddObject --wrong object type."));
  object->state = PdfObject::State::kIndirect;
  object->number = static_cast<int>(objects_.size()) + 1;
  objects_.push_back(std::move(object));
  return objects_.back().get();
}

PdfObject* PdfXref::Find(int number) const {
  if (number < 1 || static_cast<size_t>(number) > objects_.size()) return nullptr;
  return objects_[static_cast<size_t>(number) - 1].get();
}

// --- canvas ---

void PdfCanvas::SetPage(PdfDictionary* page, PdfStream* contents) {
  if (page_) {
    page_->Set("_Font", std::make_unique<PdfName>(font_name_), true);
    page_->Set("_Font_Size", std::make_unique<PdfReal>(font_size_), true);
    page_->Set("_Word_Space", std::make_unique<PdfReal>(word_space_), true);
    page_->Set("_Char_Space", std::make_unique<PdfReal>(char_space_), true);
    page_->Set("_HScalling", std::make_unique<PdfReal>(h_scaling_), true);
    page_->Set("_Leading", std::make_unique<PdfReal>(leading_), true);
  }
  page_ = page;
  contents_ = contents;
  char_space_ = word_space_ = leading_ = 0;
  h_scaling_ = 100;
  SelectFont("Arial", 10);
}

void PdfCanvas::SetMediaBox(size_t index, int value) {
  auto* box = dynamic_cast<PdfArray*>(page_->Get("MediaBox"));
  if (!box || box->Size() < 4) throw Error(ErrorKind::kInvalidData, Tr("MediaBox is not valid"));
  box->Replace(index, std::make_unique<PdfNumber>(value));
}

void PdfCanvas::SetPageWidth(int width) { SetMediaBox(2, width); }
void PdfCanvas::SetPageHeight(int height) { SetMediaBox(3, height); }

int PdfCanvas::PageHeight() const {
  const auto* box = dynamic_cast<PdfArray*>(page_->Get("MediaBox"));
  return static_cast<const PdfNumber*>(box->At(3))->value;
}

void PdfCanvas::Write(const std::string& line) { contents_->buffer += line + "\n"; }

void PdfCanvas::SelectFont(const std::string& name, double size) {
  PdfDictionary& font = doc_.GetFont(name);
  const std::string resource = static_cast<const PdfName*>(font.Get("Name"))->value;
  auto* resources = static_cast<PdfDictionary*>(page_->Get("Resources"));
  auto* fonts = static_cast<PdfDictionary*>(resources->Get("Font"));
  if (!fonts->Get(resource)) fonts->Set(resource, &font);
  Write("/" + resource + " " + PdfFormatNumber(size) + " Tf");
  font_name_ = name;
  font_size_ = size;
}

void PdfCanvas::DrawXObject(double x, double y, double width, double height, const std::string& name) {
  PdfObject* object = doc_.FindXObject(name);
  if (!object) throw Error(ErrorKind::kInternal, "DrawXObject --XObject not found: " + name);
  auto* resources = static_cast<PdfDictionary*>(page_->Get("Resources"));
  auto* xobjects = static_cast<PdfDictionary*>(resources->Get("XObject"));
  if (!xobjects->Get(name)) xobjects->Set(name, object);
  Write("q");
  Write(PdfFormatNumber(width) + " 0 0 " + PdfFormatNumber(height) + " " + PdfFormatNumber(x) + " " +
        PdfFormatNumber(y) + " cm");
  Write(PdfEscapeName(name) + " Do");
  Write("Q");
}

// --- document ---

PdfDocument::PdfDocument(bool use_outlines, PdfCompression compression)
    : use_outlines_(use_outlines), compression_(compression) {}

PdfDocument::~PdfDocument() = default;

void PdfDocument::CreateDocument() {
  xref_ = std::make_unique<PdfXref>();
  trailer_ = std::make_unique<PdfDictionary>();
  trailer_->Set("Size", std::make_unique<PdfNumber>(0));
  fonts_.clear();
  xobjects_.clear();
  auto catalog = std::make_unique<PdfDictionary>();
  catalog_ = static_cast<PdfDictionary*>(xref_->AddObject(std::move(catalog)));
  catalog_->Set("Type", std::make_unique<PdfName>("Catalog"));
  trailer_->Set("Root", catalog_);
  if (use_outlines_) {
    auto* outlines = static_cast<PdfDictionary*>(xref_->AddObject(std::make_unique<PdfDictionary>()));
    outlines->Set("Type", std::make_unique<PdfName>("Outlines"));
    outlines->Set("Count", std::make_unique<PdfNumber>(0));
    catalog_->Set("Outlines", outlines);
  }
  info_ = static_cast<PdfDictionary*>(xref_->AddObject(std::make_unique<PdfDictionary>()));
  info_->Set("Producer", std::make_unique<PdfText>("DuvuzEvo version 0.9"));
  trailer_->Set("Info", info_);
  info_->Set("CreationDate", std::make_unique<PdfText>(PdfDateNow()));
  pages_ = static_cast<PdfDictionary*>(xref_->AddObject(std::make_unique<PdfDictionary>()));
  pages_->Set("Type", std::make_unique<PdfName>("Pages"));
  pages_->Set("Kids", std::make_unique<PdfArray>());
  pages_->Set("Count", std::make_unique<PdfNumber>(0));
  catalog_->Set("Pages", pages_);
  canvas_ = std::make_unique<PdfCanvas>(*this);
  created_ = true;
}

PdfCanvas& PdfDocument::Canvas() {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("GetCanvas --Document is null"));
  return *canvas_;
}

PdfDictionary& PdfDocument::Info() {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("GetInfo --this method can not use this state.."));
  return *info_;
}

PdfDictionary& PdfDocument::Catalog() {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("GetRoot --this method can not use this state.."));
  return *catalog_;
}

void PdfDocument::SetInfoText(const std::string& key, const std::string& value) {
  Info().Set(key, std::make_unique<PdfText>(value));
}

void PdfDocument::StampDate(const std::string& key) { Info().Set(key, std::make_unique<PdfText>(PdfDateNow())); }

void PdfDocument::SetPageMode(int index) {
  static const char* kModes[] = {"UseNone", "UseOutlines", "UseThumbs", "FullScreen"};
  if (index < 0 || index > 3) throw Error(ErrorKind::kInvalidData, Tr("SetPageMode --invalid value."));
  Catalog().Replace("PageMode", std::make_unique<PdfName>(kModes[index]));
}

void PdfDocument::SetPageLayout(int index) {
  static const char* kLayouts[] = {"SinglePage", "OneColumn", "TwoColumnLeft", "TwoColumnRight"};
  if (index < 0 || index > 3) throw Error(ErrorKind::kInvalidData, Tr("SetPageLayout --invalid value."));
  Catalog().Replace("PageLayout", std::make_unique<PdfName>(kLayouts[index]));
}

void PdfDocument::AddPage() {
  if (!created_ || !pages_) throw Error(ErrorKind::kInternal, Tr("AddPage --current pages null."));
  auto* page = static_cast<PdfDictionary*>(xref_->AddObject(std::make_unique<PdfDictionary>()));
  auto* kids = static_cast<PdfArray*>(pages_->Get("Kids"));
  kids->Add(page);
  pages_->Replace("Count", std::make_unique<PdfNumber>(static_cast<int32_t>(kids->Size())));
  page->Set("Type", std::make_unique<PdfName>("Page"));
  page->Set("Parent", pages_);
  auto box = std::make_unique<PdfArray>();
  for (int v : {0, 0, kDefaultWidth, kDefaultHeight}) box->Add(std::make_unique<PdfNumber>(v));
  page->Set("MediaBox", std::move(box));
  auto resources = std::make_unique<PdfDictionary>();
  resources->Set("Font", std::make_unique<PdfDictionary>());
  resources->Set("XObject", std::make_unique<PdfDictionary>());
  auto procset = std::make_unique<PdfArray>();
  for (const char* n : {"PDF", "Text", "ImageC"}) procset->Add(std::make_unique<PdfName>(n));
  resources->Set("ProcSet", std::move(procset));
  page->Set("Resources", std::move(resources));
  auto contents_object = std::make_unique<PdfStream>();
  if (compression_ == PdfCompression::cmFlateDecode)
    static_cast<PdfArray*>(contents_object->dict.Get("Filter"))->Add(std::make_unique<PdfName>("FlateDecode"));
  auto* contents = static_cast<PdfStream*>(xref_->AddObject(std::move(contents_object)));
  page->Set("Contents", contents);
  canvas_->SetPage(page, contents);
}

PdfDictionary& PdfDocument::CreateFont(const std::string& name) {
  if (name != "Arial") throw Error(ErrorKind::kInvalidData, "CreateFont --InvalidFontName:" + name);
  auto font = std::make_unique<PdfDictionary>();
  font->Set("Type", std::make_unique<PdfName>("Font"));
  font->Set("Subtype", std::make_unique<PdfName>("Type1"));
  font->Set("Encoding", std::make_unique<PdfName>("WinAnsiEncoding"));
  font->Set("FirstChar", std::make_unique<PdfNumber>(32));
  font->Set("LastChar", std::make_unique<PdfNumber>(255));
  font->Set("BaseFont", std::make_unique<PdfName>("Helvetica"));
  // Glyph widths of Helvetica for measuring text; kept, never written.
  auto widths = std::make_unique<PdfArray>();
  for (int c = 32; c < 256; ++c) widths->Add(std::make_unique<PdfNumber>(c == 32 ? 278 : 556));
  font->Set("Widths", std::move(widths), true);
  font->Set("Name", std::make_unique<PdfName>("F" + std::to_string(fonts_.size())));
  auto* registered = static_cast<PdfDictionary*>(xref_->AddObject(std::move(font)));
  // Written as it is now: a font never changes once made, so it may go to
  // the spool between the page objects that were numbered around it.
  fonts_.emplace_back(name, registered);
  return *registered;
}

PdfDictionary& PdfDocument::GetFont(const std::string& name) {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("GetFont --document is null."));
  for (auto& [n, font] : fonts_)
    if (n == name) return *font;
  return CreateFont(name);
}

bool PdfDocument::HasXObject(const std::string& name) const { return FindXObject(name) != nullptr; }

PdfObject* PdfDocument::FindXObject(const std::string& name) const {
  for (PdfStream* x : xobjects_) {
    const auto* n = dynamic_cast<const PdfName*>(x->dict.Get("Name"));
    if (n && n->value == name) return x;
  }
  return nullptr;
}

void PdfDocument::AddImage(const std::string& name, std::unique_ptr<PdfStream> image) {
  if (HasXObject(name)) throw Error(ErrorKind::kInternal, "AddImage --the image named " + name + " is already exists..");
  const auto* subtype = image ? dynamic_cast<const PdfName*>(image->dict.Get("Subtype")) : nullptr;
  if (!subtype || subtype->value != "Image") throw Error(ErrorKind::kInternal, Tr("AddImage --the image is not valid PdfImage.."));
  auto* registered = static_cast<PdfStream*>(xref_->AddObject(std::move(image)));
  if (HasXObject(name)) throw Error(ErrorKind::kInternal, "RegisterXObject --dupulicate name: " + name);
  xobjects_.push_back(registered);
  registered->dict.Set("Name", std::make_unique<PdfName>(name));
}

const PdfObject* PdfDocument::IccProfile(const std::vector<uint8_t>& icc) {
  for (const auto& [bytes, object] : profiles_)
    if (bytes == icc) return object;
  auto stream = std::make_unique<PdfStream>();
  stream->dict.Set("N", std::make_unique<PdfNumber>(3));
  stream->dict.Set("Alternate", std::make_unique<PdfName>("DeviceRGB"));
  static_cast<PdfArray*>(stream->dict.Get("Filter"))->Add(std::make_unique<PdfName>("FlateDecode"));
  stream->buffer.assign(icc.begin(), icc.end());
  const PdfObject* object = xref_->AddObject(std::move(stream));
  profiles_.emplace_back(icc, object);
  return object;
}

void PdfDocument::WriteObjects(PdfWriter& out) {
  const auto& objects = xref_->Objects();
  offsets_.assign(objects.size(), 0);
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets_[i] = out.Position();
    WriteNumbered(out, *objects[i]);
  }
}

void PdfDocument::WriteTail(PdfWriter& out) {
  const uint64_t xref_at = out.Position();
  out.Put(std::string("xref") + kCrLf + "0 " + std::to_string(xref_->Count()) + kCrLf);
  out.Put(std::string("0000000000 65535 f") + kCrLf);
  char line[32];
  for (uint64_t offset : offsets_) {
    std::snprintf(line, sizeof line, "%010llu %05d n\r\n", static_cast<unsigned long long>(offset), 0);
    out.Put(line, 20);
  }
  trailer_->Replace("Size", std::make_unique<PdfNumber>(static_cast<int32_t>(xref_->Count())));
  out.Put(std::string("trailer") + kCrLf);
  trailer_->Write(out);
  out.Put(std::string(kCrLf) + "startxref" + kCrLf + std::to_string(xref_at) + kCrLf + "%%EOF" + kCrLf);
}

void PdfDocument::SaveToStream(std::ostream& stream) {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("SaveToStream --there is no document to save."));
  if (!canvas_->Page()) throw Error(ErrorKind::kInternal, Tr("GetPage --the Page is nil"));
  if (spool_) throw Error(ErrorKind::kInternal, Tr("SaveToStream --the document is spooled"));
  StampDate("ModDate");
  catalog_->Remove("OpenAction");
  PdfWriter out(stream);
  out.xref = xref_.get();
  out.Put(std::string(Header()) + kCrLf);
  WriteObjects(out);
  WriteTail(out);
  if (!stream) throw Error(ErrorKind::kInternal, Tr("PDF write error"));
}

void PdfDocument::StartSpooling(std::ostream& spool) {
  if (!created_) throw Error(ErrorKind::kInternal, Tr("SaveToStream --there is no document to save."));
  spool_stream_ = &spool;
  spool_ = std::make_unique<PdfWriter>(spool);
  spool_->xref = xref_.get();
  offsets_.clear();
  // The objects that exist now (catalog, outlines, information, page tree)
  // stay open to the end and are written first; everything numbered after
  // them goes to the spool in number order, so that the finished file is
  // the one SaveToStream would have written.
  head_ = xref_->Objects().size();
  next_spooled_ = head_;
}

void PdfDocument::SpoolFinishedObjects() {
  const auto& objects = xref_->Objects();
  offsets_.resize(objects.size(), 0);
  for (; next_spooled_ < objects.size(); ++next_spooled_) {
    PdfObject* object = objects[next_spooled_].get();
    offsets_[next_spooled_] = spool_->Position();
    WriteNumbered(*spool_, *object);
    // A spooled object's data lives in the spool from now on.
    if (auto* stream = dynamic_cast<PdfStream*>(object)) {
      std::string().swap(stream->buffer);
      std::vector<std::string>().swap(stream->pieces);
      stream->produce = nullptr;  // and the picture it was made from
    }
  }
}

void PdfDocument::FlushFinishedObjects() {
  if (!spool_) return;
  SpoolFinishedObjects();
  if (!*spool_stream_) throw Error(ErrorKind::kInternal, Tr("PDF write error"));
}

void PdfDocument::FinishSpooling(std::ostream& stream, const std::function<void(std::ostream&)>& copy_spool) {
  if (!spool_) throw Error(ErrorKind::kInternal, Tr("SaveToStream --the document is not spooled"));
  if (!canvas_->Page()) throw Error(ErrorKind::kInternal, Tr("GetPage --the Page is nil"));
  StampDate("ModDate");
  catalog_->Remove("OpenAction");
  spool_stream_->flush();
  if (!*spool_stream_) throw Error(ErrorKind::kInternal, Tr("PDF write error"));
  const auto& objects = xref_->Objects();
  offsets_.resize(objects.size(), 0);
  PdfWriter out(stream);
  out.xref = xref_.get();
  out.Put(std::string(Header()) + kCrLf);
  for (size_t i = 0; i < head_; ++i) {
    offsets_[i] = out.Position();
    WriteNumbered(out, *objects[i]);
  }
  const uint64_t base = out.Position();
  for (size_t i = head_; i < next_spooled_; ++i) offsets_[i] += base;
  copy_spool(stream);
  out.Advance(spool_->Position());
  // What the spool has not taken yet follows, in number order.
  for (size_t i = next_spooled_; i < objects.size(); ++i) {
    offsets_[i] = out.Position();
    WriteNumbered(out, *objects[i]);
  }
  WriteTail(out);
  if (!stream) throw Error(ErrorKind::kInternal, Tr("PDF write error"));
}

std::unique_ptr<PdfStream> CreatePdfBitmapImage(const DibImage& source, const PdfObject* icc,
                                                const ConversionContext* context) {
  auto shared = std::make_shared<DibImage>();
  DibImage& image = *shared;
  image.Assign(source);  // shares the pixels; only RLE data is decoded into a copy
  if (image.GetPixelFormat() == PixelFormat::k4BitRLE) image.SetPixelFormat(PixelFormat::k4Bit);
  if (image.GetPixelFormat() == PixelFormat::k8BitRLE) image.SetPixelFormat(PixelFormat::k8Bit);
  auto stream = std::make_unique<PdfStream>();
  stream->dict.Set("Type", std::make_unique<PdfName>("XObject"));
  stream->dict.Set("Subtype", std::make_unique<PdfName>("Image"));
  const int bits = image.BitCount();
  const bool indexed = bits <= 8;
  // RGB, or with a kept profile the profile's own RGB.
  auto rgb = [icc]() -> std::unique_ptr<PdfObject> {
    if (!icc) return std::make_unique<PdfName>("DeviceRGB");
    auto based = std::make_unique<PdfArray>();
    based->Add(std::make_unique<PdfName>("ICCBased"));
    based->Add(icc);
    return based;
  };
  if (indexed) {
    auto space = std::make_unique<PdfArray>();
    space->Add(std::make_unique<PdfName>("Indexed"));
    space->Add(rgb());
    space->Add(std::make_unique<PdfNumber>(255));
    auto table = std::make_unique<PdfBinary>();
    table->bytes = "<";
    char hex[8];
    for (int i = 0; i < 256; ++i) {
      const RgbQuad q = i < image.PaletteSize() ? image.Table()[i] : RgbQuad{};
      std::snprintf(hex, sizeof hex, "%02X%02X%02X ", q.red, q.green, q.blue);
      table->bytes += hex;
    }
    table->bytes += ">";
    space->Add(std::move(table));
    stream->dict.Set("ColorSpace", std::move(space));
  } else {
    stream->dict.Set("ColorSpace", rgb());
  }
  const int w = image.Width(), h = image.Height();
  stream->dict.Set("Width", std::make_unique<PdfNumber>(w));
  stream->dict.Set("Height", std::make_unique<PdfNumber>(h));
  stream->dict.Set("BitsPerComponent", std::make_unique<PdfNumber>(8));
  static_cast<PdfArray*>(stream->dict.Get("Filter"))->Add(std::make_unique<PdfName>("FlateDecode"));

  // Rows go top to bottom, one byte per index or three per pixel, into one
  // zlib stream at level 9, made when the stream is written.
  stream->precompressed = true;
  stream->context = context;
  stream->produce = [shared, indexed](std::ostream& out) {
    const DibImage& image = *shared;
    const int w = image.Width(), h = image.Height(), bits = image.BitCount();
    const int64_t stride = RowBytes(w, bits);
    const bool bottom_up = image.Header().biHeight > 0;
    const size_t row_size = static_cast<size_t>(w) * (indexed ? 1 : 3);
    ZlibRows rows(row_size * static_cast<size_t>(h), 9, 0, [&out](const uint8_t* bytes, size_t size) {
      out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    });
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = image.Bits() + stride * (bottom_up ? h - 1 - y : y);
      uint8_t* row = rows.NextRow(row_size);
      for (int x = 0; x < w; ++x) {
        if (bits == 24) {
          row[x * 3] = s[x * 3 + 2], row[x * 3 + 1] = s[x * 3 + 1], row[x * 3 + 2] = s[x * 3];
        } else if (bits == 8) {
          row[x] = s[x];
        } else if (bits == 4) {
          row[x] = (x & 1) ? (s[x >> 1] & 0x0F) : (s[x >> 1] >> 4);
        } else {
          row[x] = (s[x >> 3] >> (7 - (x & 7))) & 1;
        }
      }
    }
    try {
      rows.Finish();
    } catch (const Error&) {
      throw Error(ErrorKind::kUnsupported, Tr("image compression failed"));
    }
  };
  return stream;
}

}  // namespace velmora
