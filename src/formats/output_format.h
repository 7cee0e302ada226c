// An output format as one value, defined beside its writer: its extension
// (also its key in the settings file and its name for -f), other names,
// which of the options it takes, and the encoder that turns a prepared
// picture into the file's bytes. The pipeline's table of outputs
// (pipeline/outputs.h) lists these values with the controls that tick them.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image/color.h"
#include "image/dib_image.h"

namespace velmora {

// A picture whose alpha was kept: its straight colours, prepared as the
// picture itself was (size, colour depth), and the alpha of each pixel,
// rows top first. The picture handed to every writer is the same pixels
// over white.
struct AlphaPicture {
  DibImage straight;
  std::vector<uint8_t> alpha;  // straight.Width() * straight.Height()
};

// What the source carries into the outputs that can hold it; each empty
// unless asked for. The EXIF block is TIFF-structured and already made to
// fit the output (orientation 1, its size, no thumbnail).
struct OutputExtras {
  std::shared_ptr<const std::vector<uint8_t>> icc;  // an RGB profile, as the source had it
  std::shared_ptr<const std::vector<uint8_t>> exif;
  std::shared_ptr<const std::string> xmp;
  std::shared_ptr<const AlphaPicture> alpha;  // for the formats with an alpha channel
  bool Any() const { return icc || exif || xmp; }
};

// What an encoder is told beside the picture.
struct EncodeOptions {
  int quality = 5;            // the quality track bar: 0 ("高", most compression) to 9 ("美")
  bool transparent = false;   // the transparency switch
  bool picker = false;        // the picture's transparent colour was picked: the colour and point below count
  ColorValue picked_color = kNoColor;
  int x = -1, y = -1;         // the picked point on the prepared picture
  std::string delay = "30";   // a GIF frame's delay, as its field holds it
  int icon_size = 32;
  bool lossless = false;      // the lossless switch, for the formats that have both kinds
  OutputExtras extras;
};

struct OutputFormat {
  const char* extension;             // "png": the file's extension, its [Format] key, its -f name
  std::vector<const char*> aliases;  // further -f names ("jpeg")
  bool takes_quality = false;
  bool takes_transparency = false;
  bool takes_icon_size = false;
  void (*encode)(const DibImage& image, const EncodeOptions& options, std::ostream& out) = nullptr;
  bool takes_lossless = false;
  // The transparent-colour picker is shown for it when the picker is on.
  bool picks_colour = false;
  // It holds an alpha channel: a kept alpha (EncodeOptions::extras) goes into it.
  bool takes_alpha = false;
};

// The quality track bar (0..9) as the 1..100 scale of the newer encoders:
// 5, 15, ..., 95, so that the middle of the bar is the middle of the scale
// and neither end asks for the encoder's extremes.
constexpr int ScaledQuality(int quality) { return 10 * (quality < 0 ? 0 : quality > 9 ? 9 : quality) + 5; }

}  // namespace velmora
