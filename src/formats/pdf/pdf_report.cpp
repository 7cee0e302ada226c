#include "formats/pdf/pdf_report.h"
#include "base/messages.h"
#include "formats/deflate.h"
#include "formats/output_format.h"

#include <chrono>
#include <cstdlib>

namespace velmora {

namespace {

// The clock, or SOURCE_DATE_EPOCH when it is set: then the same pictures
// give the same file, names of the page images included.
unsigned Seed() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch)
    return static_cast<unsigned>(std::strtoull(epoch, nullptr, 10));
  return static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
}

}  // namespace

ReportImage::ReportImage() : random_(Seed()) {}

void ReportImage::Print(PdfDocument& doc, int r_left, int /*r_top*/, int /*r_right*/, int r_bottom) {
  if (!has_picture || picture.Width() == 0) return;
  std::string xname = name;
  const PdfObject* profile = icc ? doc.IccProfile(*icc) : nullptr;
  if (SharedImage) {
    if (!doc.HasXObject(xname)) doc.AddImage(xname, CreatePdfBitmapImage(picture, profile, doc.Context()));
  } else {
    int k = static_cast<int>(random_() % 65534);
    xname = name + std::to_string(k);
    for (int tries = 0; doc.HasXObject(xname) && tries < 65535; ++tries) {
      k = k >= 65534 ? 0 : k + 1;
      xname = name + std::to_string(k);
    }
    doc.AddImage(xname, CreatePdfBitmapImage(picture, profile, doc.Context()));
  }
  PdfCanvas& canvas = doc.Canvas();
  if (Stretch)
    canvas.DrawXObject(r_left, canvas.PageHeight() - r_bottom, width, height, xname);
  else
    canvas.DrawXObject(r_left, canvas.PageHeight() - r_bottom, picture.Width(), picture.Height(), xname);
}

void ReportPanel::Print(PdfDocument& doc, int origin_left, int origin_top) {
  const int l = origin_left + left, t = origin_top + top;
  for (ReportPanel* child : panels) child->Print(doc, l, t);
  for (ReportImage* item : items)
    if (item->printable)
      item->Print(doc, l + item->left, t + item->top, l + item->left + item->width, t + item->top + item->height);
}

void PdfReport::Guard(const char* setting) const {
  if (doc_) throw Error(ErrorKind::kInternal, std::string(setting) + " --invalid operation.");
}

void PdfReport::SetAuthor(const std::string& v) { Guard("SetAuthor"), author_ = v; }
void PdfReport::SetCreator(const std::string& v) { Guard("SetCreator"), creator_ = v; }
void PdfReport::SetKeywords(const std::string& v) { Guard("SetKeywords"), keywords_ = v; }
void PdfReport::SetSubject(const std::string& v) { Guard("SetSubject"), subject_ = v; }
void PdfReport::SetTitle(const std::string& v) { Guard("SetTitle"), title_ = v; }
void PdfReport::SetPageMode(int v) { Guard("SetPageMode"), page_mode_ = v; }
void PdfReport::SetPageLayout(int v) { Guard("SetPageLayout"), page_layout_ = v; }
void PdfReport::SetUseOutlines(bool v) { Guard("SetUseOutlines"), use_outlines_ = v; }

void PdfReport::OpenDocument() {
  doc_.reset();
  auto doc = std::make_unique<PdfDocument>(use_outlines_, CompressionMethod);
  doc->SetContext(context);
  doc->CreateDocument();
  doc->SetPageMode(page_mode_);
  doc->SetPageLayout(page_layout_);
  doc->SetInfoText("Author", author_);
  doc->StampDate("CreationDate");
  doc->SetInfoText("Creator", creator_);
  doc->SetInfoText("Keywords", keywords_);
  doc->StampDate("ModDate");
  doc->SetInfoText("Subject", subject_);
  doc->SetInfoText("Title", title_);
  doc_ = std::move(doc);
  page_count_ = 0;
}

void PdfReport::PrintPage(ReportPage& page) {
  if (!doc_) throw Error(ErrorKind::kInternal, Tr("document is null.."));
  doc_->AddPage();
  ++page_count_;
  PdfCanvas& canvas = doc_->Canvas();
  canvas.SetPageHeight(page.height);
  canvas.SetPageWidth(page.width);
  for (ReportPanel* panel : page.panels) panel->Print(*doc_, 0, 0);
}

void PdfReport::SaveDocument(std::ostream& out) {
  if (!doc_) throw Error(ErrorKind::kInternal, Tr("document is null.."));
  doc_->SaveToStream(out);
  doc_.reset();
}

CombinedPdf::CombinedPdf(const ConversionContext* context) : pdf_(context) {
  spool_ = context ? context->MakeScratch() : MemoryScratchFile();
  pdf_.report.OpenDocument();
  pdf_.report.Document()->StartSpooling(spool_->Out());
}

void CombinedPdf::Add(const DibImage& image, const EncodeOptions& options) {
  pdf_.SetPicture(image, options.extras.icc);
  // Each page gets its own XObject under a numbered name.
  pdf_.element.SharedImage = false;
  pdf_.report.PrintPage(pdf_.page);
  pdf_.element.picture.AssignDefault();
  pdf_.report.Document()->FlushFinishedObjects();
  spool_->Size();  // a full disk shows here, naming its reason
}

void CombinedPdf::Save(std::ostream& out) {
  pdf_.report.Document()->FinishSpooling(out, [this](std::ostream& to) { spool_->CopyTo(to); });
  pdf_.report.AbortDocument();
}

const OutputFormat& PdfOutput() {
  static const OutputFormat format{
      .extension = "pdf",
      .name = "PDF",
      .holds_icc = true,
      .encode = [](const DibImage& image, const EncodeOptions& options, std::ostream& out) {
        PdfAssembly pdf(options.context);
        pdf.SetPicture(image, options.extras.icc);
        pdf.report.OpenDocument();
        pdf.report.PrintPage(pdf.page);
        pdf.report.SaveDocument(out);
      },
      // The picture's compressed stream waits in a scratch file until its
      // length is known; rows of up to kOneGoBytes are compressed in one go.
      .memory = [](int64_t width, int64_t height, int bits, const EncodeOptions&) -> uint64_t {
        const uint64_t rows = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * (bits > 8 ? 3 : 1);
        return kEncoderBuffers + (rows <= kOneGoBytes ? 2 * rows : 0);
      },
      .combine = [](const EncodeOptions& options) -> std::unique_ptr<CombinedOutput> {
        return std::make_unique<CombinedPdf>(options.context);
      },
  };
  return format;
}

}  // namespace velmora
