#include "pipeline/writers.h"

#include "formats/bmp/bmp_writer.h"
#include "formats/jpeg/jpeg_writer.h"
#include "formats/tiff/tiff_writer.h"
#include "formats/gif/gif_image.h"
#include "formats/ico/ico_writer.h"
#include "formats/mag/mag_image.h"
#include "formats/pdf/pdf_report.h"
#include "formats/png/png_encoder.h"
#include "platform/platform.h"

namespace velmora {

namespace {

// The quality track bar: position 0 ("高", strongest compression) to 9 ("美").
int QualityPosition(const Settings& s) { return s.O_quality_t < 0 ? 0 : s.O_quality_t > 9 ? 9 : s.O_quality_t; }

void WriteJpeg(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  EncodeJpeg(image, QualityPosition(ctx.settings) * 10, out);
}

void WriteTiff(const DibImage& image, const WriterContext&, std::ostream& out) { EncodeTiff(image, out); }

void WritePng(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  static const int kLevel[10] = {9, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  PngEncoder encoder;
  encoder.Assign(image);
  encoder.CompressionLevel = kLevel[QualityPosition(ctx.settings)];
  if (ctx.settings.C_Trans) {
    encoder.SetTransparent(true);
    if (ctx.settings.V_transparent) {
      encoder.SetTransparentColor(ctx.picked_color);
    } else {
      encoder.SetTransparentColor(image.GetPixel(0, 0));
    }
  } else {
    encoder.SetTransparent(false);
  }
  encoder.SaveToStream(out);
}

void WriteMag(const DibImage& image, const WriterContext&, std::ostream& out) {
  MagImage mag;
  mag.Assign(image);
  mag.SaveToStream(out);
}

void WriteIco(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  static const char* kSizes[] = {"16", "32", "64", "128", "256"};
  // The size is the decimal value of the list's text; without a selection
  // the default, 32.
  const int index = ctx.settings.O_icosize >= 0 && ctx.settings.O_icosize <= 4 ? ctx.settings.O_icosize : 1;
  EncodeIco(image, std::stoi(kSizes[index]), ctx.settings.C_Trans, out);
}

// Adds a frame and runs the frame finishing: colour-table rebuild, then
// merge and crop.
void AddFinishedFrame(GifImage& gif, const DibImage& image, const Settings& s, const FrameOptions& frame) {
  const GifFramePoint point{frame.x, frame.y};
  AddGifFrame(gif, image, frame.trans, s.C_delay, s.V_transparent ? &point : nullptr);
  gif.OptimizeColorTables();
  gif.OptimizeFrames(3);
}

void WriteGif(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  GifImage gif;
  AddFinishedFrame(gif, image, ctx.settings, ctx.frame);
  gif.SaveToStream(out);
}

// The animated GIF of a batch. Each frame is re-optimised against all the
// others whenever one is added, so no frame is final before the end; the
// frames' pixels wait in a spool file instead of memory.
class AnimatedGif : public CombinedOutput {
 public:
  explicit AnimatedGif(const Settings& settings) : settings_(settings) { gif_.SpoolFrames(); }
  void Add(const DibImage& image, const FrameOptions& frame) override {
    AddFinishedFrame(gif_, image, settings_, frame);
    ++added_;
  }
  int Count() const override { return added_; }
  void Save(std::ostream& out) override { gif_.SaveToStream(out); }

 private:
  const Settings& settings_;
  GifImage gif_;
  int added_ = 0;
};

// The report components of one PDF: the report, its page template with the
// layout panel at the page's corner, and the page image element "PDFCLIP".
struct PdfAssembly {
  PdfAssembly() {
    panel.items.push_back(&element);
    page.panels.push_back(&panel);
  }
  // Sizes the page and the element to the image and gives it the picture.
  void SetPicture(const DibImage& image) {
    page.width = element.width = image.Width();
    page.height = element.height = image.Height();
    element.picture.Assign(image);
    element.has_picture = true;
  }
  PdfReport report;
  ReportPage page;
  ReportPanel panel;
  ReportImage element;
};

void WritePdf(const DibImage& image, const WriterContext&, std::ostream& out) {
  PdfAssembly pdf;
  pdf.SetPicture(image);
  pdf.report.OpenDocument();
  pdf.report.PrintPage(pdf.page);
  pdf.report.SaveDocument(out);
}

// The combined PDF of a batch. Each page, with its contents and image, goes
// to a spool file as soon as it is printed, so a batch of hundreds of photos
// needs the memory of one page; at the end the document's own objects, the
// spool, and the cross-reference table make the file the in-memory document
// would have written.
class CombinedPdf : public CombinedOutput {
 public:
  CombinedPdf() {
    pdf_.report.OpenDocument();
    pdf_.report.Document()->StartSpooling(spool_.Out());
  }
  void Add(const DibImage& image, const FrameOptions&) override {
    pdf_.SetPicture(image);
    // Each page gets its own XObject under a numbered name.
    pdf_.element.SharedImage = false;
    pdf_.report.PrintPage(pdf_.page);
    pdf_.element.picture.AssignDefault();
    pdf_.report.Document()->FlushFinishedObjects();
    spool_.Size();  // a full disk shows here, naming its reason
  }
  int Count() const override { return pdf_.report.PageCount(); }
  void Save(std::ostream& out) override {
    pdf_.report.Document()->FinishSpooling(out, [this](std::ostream& to) { spool_.CopyTo(to); });
    pdf_.report.AbortDocument();
  }

 private:
  platform::SpoolFile spool_;
  PdfAssembly pdf_;
};

}  // namespace

std::vector<FormatWriter> DefaultWriters() {
  std::vector<FormatWriter> w;
  w.push_back({"bmp", [](const Settings& s) { return s.C_bmp; },
               [](const DibImage& image, const WriterContext&, std::ostream& out) { EncodeBmp(image, out); }});
  w.push_back({"jpg", [](const Settings& s) { return s.C_jpg; }, WriteJpeg});
  w.push_back({"png", [](const Settings& s) { return s.C_png; }, WritePng});
  w.push_back({"ico", [](const Settings& s) { return s.C_ico; }, WriteIco});
  w.push_back({"mag", [](const Settings& s) { return s.C_mag; }, WriteMag});
  w.push_back({"tif", [](const Settings& s) { return s.C_tif; }, WriteTiff});
  w.push_back({"gif", [](const Settings& s) { return s.C_gif; }, WriteGif});
  w.push_back({"pdf", [](const Settings& s) { return s.C_pdf; }, WritePdf});
  return w;
}

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings& settings) {
  return std::make_unique<AnimatedGif>(settings);
}
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings&) { return std::make_unique<CombinedPdf>(); }

}  // namespace velmora
