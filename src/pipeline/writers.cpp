#include "pipeline/writers.h"

#include <algorithm>

#include "formats/gif/gif_image.h"
#include "formats/pdf/pdf_report.h"
#include "platform/platform.h"

namespace velmora {

// Each defined beside its codec.
const OutputFormat& BmpOutput();
const OutputFormat& JpegOutput();
const OutputFormat& PngOutput();
const OutputFormat& IcoOutput();
const OutputFormat& MagOutput();
const OutputFormat& TiffOutput();
const OutputFormat& GifOutput();
const OutputFormat& PdfOutput();
const OutputFormat& WebpOutput();
const OutputFormat& AvifOutput();
const OutputFormat& JxlOutput();

namespace {

// The animated GIF of a batch. Each frame is re-optimised against all the
// others whenever one is added, so no frame is final before the end; the
// frames' pixels wait in a spool file instead of memory.
class AnimatedGif : public CombinedOutput {
 public:
  explicit AnimatedGif(const Settings& settings) : settings_(settings) { gif_.SpoolFrames(); }
  void Add(const DibImage& image, const FrameOptions& frame, const OutputExtras&) override {
    EncodeOptions options = OptionsFor(settings_, WriterContext{settings_, kNoColor, frame});
    options.transparent = frame.trans;  // as the frame was prepared
    AddFinishedFrame(gif_, image, options);
    ++added_;
  }
  int Count() const override { return added_; }
  void Save(std::ostream& out) override { gif_.SaveToStream(out); }

 private:
  const Settings& settings_;
  GifImage gif_;
  int added_ = 0;
};

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
  void Add(const DibImage& image, const FrameOptions&, const OutputExtras& extras) override {
    pdf_.SetPicture(image, extras.icc);
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

EncodeOptions OptionsFor(const Settings& s, const WriterContext& context) {
  static const int kIconSizes[] = {16, 32, 64, 128, 256};
  EncodeOptions options;
  options.quality = std::clamp(s.O_quality_t, 0, 9);
  options.transparent = s.C_Trans;
  options.picker = s.V_transparent;
  options.picked_color = context.picked_color;
  options.x = context.frame.x;
  options.y = context.frame.y;
  options.delay = s.C_delay;
  // The list's text; without a selection the default, 32.
  options.icon_size = kIconSizes[s.O_icosize >= 0 && s.O_icosize <= 4 ? s.O_icosize : 1];
  options.lossless = s.C_lossless;
  options.extras = context.extras;
  return options;
}

const std::vector<OutputRow>& OutputTable() {
  static const std::vector<OutputRow> table = {
      {BmpOutput, &Settings::C_bmp, 0},
      {JpegOutput, &Settings::C_jpg, 1},
      {PngOutput, &Settings::C_png, 2},
      {IcoOutput, &Settings::C_ico, 5},
      {MagOutput, &Settings::C_mag, 3},
      {TiffOutput, &Settings::C_tif, 7},
      {GifOutput, &Settings::C_gif, 4, &Settings::C_animegif, CreateAnimatedGif},
      {PdfOutput, &Settings::C_pdf, 6, &Settings::C_Multipdf, CreateCombinedPdf},
      // The additions' bar, after the desktop's eight.
      {WebpOutput, &Settings::C_webp, 8, nullptr, nullptr, true},
      {AvifOutput, &Settings::C_avif, 9, nullptr, nullptr, true},
      {JxlOutput, &Settings::C_jxl, 10, nullptr, nullptr, true},
  };
  return table;
}

std::vector<const OutputRow*> OutputsInBarOrder() {
  std::vector<const OutputRow*> rows;
  for (const OutputRow& row : OutputTable()) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(), [](const OutputRow* a, const OutputRow* b) { return a->bar_position < b->bar_position; });
  return rows;
}

std::vector<FormatWriter> DefaultWriters() {
  std::vector<FormatWriter> writers;
  for (const OutputRow& row : OutputTable()) {
    const OutputFormat& format = row.format();
    writers.push_back({format.extension, [field = row.ticked](const Settings& s) { return s.*field; },
                       [&format](const DibImage& image, const WriterContext& context, std::ostream& out) {
                         format.encode(image, OptionsFor(context.settings, context), out);
                       },
                       row.fails_alone});
  }
  return writers;
}

namespace {

// Whether a ticked format has the property (any ticked format: none given).
bool AnyTicked(const Settings& s, bool OutputFormat::*property = nullptr) {
  for (const OutputRow& row : OutputTable())
    if (s.*row.ticked && (!property || row.format().*property)) return true;
  return false;
}

}  // namespace

bool Settings::AnyFormat() const { return AnyTicked(*this); }
bool Settings::AlphaWanted() const { return keep_alpha && AnyTicked(*this, &OutputFormat::takes_alpha); }
bool Settings::PickerWanted() const { return V_transparent && AnyTicked(*this, &OutputFormat::picks_colour); }

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings& settings) {
  return std::make_unique<AnimatedGif>(settings);
}
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings&) { return std::make_unique<CombinedPdf>(); }

}  // namespace velmora
