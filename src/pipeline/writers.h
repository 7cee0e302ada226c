// The output formats of the conversion: the table of their descriptors with
// the controls that tick them, in the writers' fixed order, and the
// combined outputs of a batch. The writer contract (path, overwrite
// question, atomic write, result line) is the Converter's.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "formats/output_format.h"
#include "image/dib_image.h"
#include "pipeline/combined.h"
#include "pipeline/settings.h"

namespace velmora {

// What a writer may read besides the image: the settings, the picker's colour
// and point, and the image as loaded.
struct WriterContext {
  const Settings& settings;
  ColorValue picked_color;
  FrameOptions frame;
  OutputExtras extras = {};
};

// One row of the output table: a format (defined beside its codec), the box
// that ticks it, and for a format with a batch-wide file the box that asks
// for it and what makes it. A new output format is its folder, a Settings
// field for its box and one row.
struct OutputRow {
  const OutputFormat& (*format)();
  bool Settings::*ticked;
  int bar_position;  // the box's place: the format bar's eight, then the additions bar's
  bool Settings::*combined_on = nullptr;
  std::unique_ptr<CombinedOutput> (*combine)(const Settings&) = nullptr;
  // An encoder's failure fails this output alone, and the source's other
  // formats are still written (the additions; a failure of one of the
  // desktop's eight fails the whole source, as it always did).
  bool fails_alone = false;
};
const std::vector<OutputRow>& OutputTable();
// The same rows in the order the window and the settings file show them.
std::vector<const OutputRow*> OutputsInBarOrder();

// What the encoders are told, from the controls and the picture's picks.
EncodeOptions OptionsFor(const Settings& settings, const WriterContext& context);

// A writer as the converter runs it (tests put their own in its place).
struct FormatWriter {
  std::string extension;  // "bmp", "jpg", ...
  std::function<bool(const Settings&)> ticked;
  std::function<void(const DibImage&, const WriterContext&, std::ostream&)> encode;
  bool fails_alone = false;
};

// One per row of the output table, in its order.
std::vector<FormatWriter> DefaultWriters();

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings& settings);
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings& settings);

}  // namespace velmora
