// The report layer over the PDF document: a report that opens, prints pages
// into and saves one document, a page template with a layout panel, and the
// page image element that turns a picture into an image XObject filling the
// page.
#pragma once

#include <iosfwd>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "image/dib_image.h"
#include "formats/output_format.h"
#include "formats/pdf/pdf_document.h"

namespace velmora {

class ReportImage {
 public:
  ReportImage();
  std::string name = "PDFCLIP";
  DibImage picture;
  bool has_picture = false;
  // The picture's own RGB profile, kept as it came: an ICCBased image.
  std::shared_ptr<const std::vector<uint8_t>> icc;
  bool SharedImage = true;
  bool Stretch = true;
  bool printable = true;
  int left = 0, top = 0, width = 0, height = 0;
  // Draws the picture into the current page within r (page pixels, top-left origin).
  void Print(PdfDocument& doc, int r_left, int r_top, int r_right, int r_bottom);

 private:
  std::mt19937 random_;
};

class ReportPanel {
 public:
  int left = 0, top = 0, width = 65, height = 57;
  std::vector<ReportImage*> items;
  std::vector<ReportPanel*> panels;
  void Print(PdfDocument& doc, int origin_left, int origin_top);
};

class ReportPage {
 public:
  int width = 0, height = 0;
  int MarginTop = 32, MarginLeft = 32, MarginRight = 32, MarginBottom = 32;
  std::vector<ReportPanel*> panels;
};

class PdfReport {
 public:
  std::string FileName = "default.pdf";
  const std::string& Author() const { return author_; }
  void SetAuthor(const std::string& v);
  void SetCreator(const std::string& v);
  void SetKeywords(const std::string& v);
  void SetSubject(const std::string& v);
  void SetTitle(const std::string& v);
  void SetPageMode(int v);
  void SetPageLayout(int v);
  void SetUseOutlines(bool v);
  PdfCompression CompressionMethod = PdfCompression::cmFlateDecode;
  // Where the documents' picture streams wait to be written (none: memory).
  const ConversionContext* context = nullptr;

  bool Open() const { return doc_ != nullptr; }
  int PageCount() const { return page_count_; }
  void OpenDocument();
  void PrintPage(ReportPage& page);
  // Writes the document to out and discards it; "document is null.." when
  // none is open. The document stays open when writing fails.
  void SaveDocument(std::ostream& out);
  void AbortDocument() { doc_.reset(); }
  PdfDocument* Document() { return doc_.get(); }

 private:
  void Guard(const char* setting) const;
  std::string author_ = "Velmora", creator_ = "Velmora", keywords_, subject_, title_;
  int page_mode_ = 0, page_layout_ = 0;
  bool use_outlines_ = false;
  std::unique_ptr<PdfDocument> doc_;
  int page_count_ = 0;
};

// The report components of one PDF as the writers assemble it: the report,
// its page template with the layout panel at the page's corner, and the
// page image element "PDFCLIP".
struct PdfAssembly {
  explicit PdfAssembly(const ConversionContext* context = nullptr) {
    report.context = context;
    panel.items.push_back(&element);
    page.panels.push_back(&panel);
  }
  // Sizes the page and the element to the image and gives it the picture.
  void SetPicture(const DibImage& image, std::shared_ptr<const std::vector<uint8_t>> icc = nullptr) {
    page.width = element.width = image.Width();
    page.height = element.height = image.Height();
    element.picture.Assign(image);
    element.has_picture = true;
    element.icc = std::move(icc);
  }
  PdfReport report;
  ReportPage page;
  ReportPanel panel;
  ReportImage element;
};

// The combined PDF of a batch. Each page, with its contents and image, goes
// to a scratch file as soon as it is printed, so a batch of hundreds of
// photos needs the memory of one page; at the end the document's own
// objects, the scratch file and the cross-reference table make the file the
// in-memory document would have written.
class CombinedPdf : public CombinedOutput {
 public:
  explicit CombinedPdf(const ConversionContext* context);
  void Add(const DibImage& image, const EncodeOptions& options) override;
  int Count() const override { return pdf_.report.PageCount(); }
  void Save(std::ostream& out) override;

 private:
  std::unique_ptr<ScratchFile> spool_;
  PdfAssembly pdf_;
};

}  // namespace velmora
