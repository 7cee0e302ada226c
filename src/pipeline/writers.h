// The output formats of the conversion: the table of their descriptors with
// the controls that tick them, in the writers' fixed order, and what the
// encoders are told. The writer contract (path, overwrite question,
// commit, result line) is the Committer's; the batch-wide files are the
// BatchSession's, made by the formats' own descriptors.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "formats/output_format.h"
#include "image/conversion_context.h"
#include "image/dib_image.h"
#include "pipeline/settings.h"

namespace velmora {

// What a frame needs beyond the prepared image: the transparency switch and
// the picker's point, already scaled to the prepared image.
struct FrameOptions {
  bool trans = false;
  bool picker_shown = false;
  int x = 0;
  int y = 0;
};

// What a writer may read besides the image: the settings, the picker's colour
// and point, what the source carried, and the conversion it is part of.
struct WriterContext {
  const Settings& settings;
  ColorValue picked_color;
  FrameOptions frame;
  OutputExtras extras = {};
  const ConversionContext* conversion = nullptr;
};

// One row of the output table: a format (defined beside its codec), the box
// that ticks it, and for a format with a batch-wide file the box that asks
// for it, the caption of the order dialog for its entries, the note a
// stopped batch gives for what it collected and the one a batch gives when
// it collected nothing ({1}: the file's name). A new output format is its
// folder, a Settings field for its box and one row.
struct OutputRow {
  const OutputFormat& (*format)();
  bool Settings::*ticked;
  int bar_position;  // the box's place: the format bar's eight, then the additions bar's
  bool Settings::*combined_on = nullptr;
  const char* order_caption = nullptr;
  const char* dropped_note = nullptr;
  const char* empty_note = nullptr;
  // An encoder's failure fails this output alone, and the source's other
  // formats are still written (the additions; a failure of one of the
  // desktop's eight fails the whole source, as it always did).
  bool fails_alone = false;
};
const std::vector<OutputRow>& OutputTable();
// The same rows in the order the window and the settings file show them.
std::vector<const OutputRow*> OutputsInBarOrder();
// The extensions of the formats that have a property ("png, tif, webp"),
// for the texts that list them.
std::string ExtensionsWith(bool OutputFormat::*property);

// What the encoders are told, from the controls and the picture's picks.
// The encoder's options; for format, its own quality when one is set.
EncodeOptions OptionsFor(const Settings& settings, const WriterContext& context, const OutputFormat* format = nullptr);

// A writer as the pipeline runs it (tests put their own encoder in place).
struct FormatWriter {
  const OutputRow* row;
  std::function<void(const DibImage&, const WriterContext&, std::ostream&)> encode;

  const OutputFormat& Format() const { return row->format(); }
  std::string Extension() const { return Format().extension; }
  bool Ticked(const Settings& s) const { return s.*(row->ticked); }
  // Ticked, and the batch makes one file of it from every source.
  bool Combined(const Settings& s) const { return Ticked(s) && row->combined_on && s.*(row->combined_on); }
};

// One per row of the output table, in its order.
std::vector<FormatWriter> DefaultWriters();

}  // namespace velmora
