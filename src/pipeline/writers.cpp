#include "pipeline/writers.h"

#include <algorithm>

#include "base/messages.h"

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

EncodeOptions OptionsFor(const Settings& s, const WriterContext& context, const OutputFormat* format) {
  static const int kIconSizes[] = {16, 32, 64, 128, 256};
  EncodeOptions options;
  options.quality = std::clamp(s.O_quality_t, 0, 9);
  if (format)
    if (auto own = s.format_quality.find(format->extension); own != s.format_quality.end())
      options.quality = std::clamp(own->second - 1, 0, 9);
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
  options.context = context.conversion;
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
      {GifOutput, &Settings::C_gif, 4, &Settings::C_animegif, N_("gifｱﾆﾒ出力時出力順設定"),
       N_("The animated GIF collected so far was not written."),
       N_("The animated GIF {1} was not written: no source gave it a frame.")},
      {PdfOutput, &Settings::C_pdf, 6, &Settings::C_Multipdf, N_("pdf一括出力時出力順設定"),
       N_("The combined PDF collected so far was not written."),
       N_("The combined PDF {1} was not written: no source gave it a page.")},
      // The additions' bar, after the desktop's eight.
      {WebpOutput, &Settings::C_webp, 8, nullptr, nullptr, nullptr, nullptr, true},
      {AvifOutput, &Settings::C_avif, 9, nullptr, nullptr, nullptr, nullptr, true},
      {JxlOutput, &Settings::C_jxl, 10, nullptr, nullptr, nullptr, nullptr, true},
  };
  return table;
}

std::vector<const OutputRow*> OutputsInBarOrder() {
  std::vector<const OutputRow*> rows;
  for (const OutputRow& row : OutputTable()) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(), [](const OutputRow* a, const OutputRow* b) { return a->bar_position < b->bar_position; });
  return rows;
}

std::string ExtensionsWith(bool OutputFormat::*property) {
  std::string list;
  for (const OutputRow* row : OutputsInBarOrder())
    if (row->format().*property) list += (list.empty() ? "" : ", ") + std::string(row->format().extension);
  return list;
}

std::vector<FormatWriter> DefaultWriters() {
  std::vector<FormatWriter> writers;
  for (const OutputRow& row : OutputTable()) {
    const OutputFormat& format = row.format();
    writers.push_back({&row, [&format](const DibImage& image, const WriterContext& context, std::ostream& out) {
                         format.encode(image, OptionsFor(context.settings, context, &format), out);
                       }});
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
bool Settings::AlphaWanted() const { return keep_alpha && AnyTicked(*this, &OutputFormat::holds_alpha); }
bool Settings::AnyCombined() const {
  return std::any_of(OutputTable().begin(), OutputTable().end(),
                     [&](const OutputRow& row) { return this->*row.ticked && row.combined_on && this->*row.combined_on; });
}
bool Settings::PickerWanted() const { return V_transparent && AnyTicked(*this, &OutputFormat::picks_colour); }

}  // namespace velmora
