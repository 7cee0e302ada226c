// An output format as one value, defined beside its writer: its extension
// (also its key in the settings file and its name for -f), its name in
// messages, other names, which options it takes, what it can hold of what a
// picture carries, the encoder that turns a prepared picture into the
// file's bytes, what that encoder needs in memory, and the batch-wide file
// it can make. The pipeline's table of outputs (pipeline/writers.h) lists
// these values with the controls that tick them.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image/color.h"
#include "image/conversion_context.h"
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
  std::shared_ptr<const std::vector<uint8_t>> iptc;  // IPTC-IIM records
  std::shared_ptr<const AlphaPicture> alpha;         // for the formats with an alpha channel
  bool Any() const { return icc || exif || xmp || iptc; }
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
  // The conversion: its memory limit and scratch files (none: in memory,
  // without a limit).
  const ConversionContext* context = nullptr;
};

// A file one batch collects from all its sources (the animated GIF, the
// combined PDF): a frame or page per source, saved once at the end.
class CombinedOutput {
 public:
  virtual ~CombinedOutput() = default;
  virtual void Add(const DibImage& image, const EncodeOptions& options) = 0;
  virtual int Count() const = 0;
  virtual void Save(std::ostream& out) = 0;
};

struct OutputFormat {
  const char* extension;             // "png": the file's extension, its [Format] key, its -f name
  const char* name;                  // "PNG": what messages call it
  std::vector<const char*> aliases = {};  // further -f names ("jpeg")
  bool takes_quality = false;
  bool takes_transparency = false;
  bool takes_icon_size = false;
  bool takes_lossless = false;  // the lossless switch chooses between its two kinds
  bool picks_colour = false;    // the transparent-colour picker is shown for it when the picker is on
  // What it holds of what a picture carries, when asked: a kept colour
  // profile, EXIF and XMP, IPTC, an alpha channel.
  bool holds_icc = false;
  bool holds_exif = false;
  bool holds_iptc = false;
  bool holds_alpha = false;
  void (*encode)(const DibImage& image, const EncodeOptions& options, std::ostream& out) = nullptr;
  // What the encoder needs beside the picture for width x height pixels
  // of bits each, in bytes (measured: bench/velmora_bench's encoder rows).
  uint64_t (*memory)(int64_t width, int64_t height, int bits, const EncodeOptions& options) = nullptr;
  // The batch-wide file of this format (nullptr: it has none).
  std::unique_ptr<CombinedOutput> (*combine)(const EncodeOptions& options) = nullptr;
};

// What an encoder with a fixed need holds beside the picture: its buffers.
inline constexpr uint64_t kEncoderBuffers = uint64_t{2} << 20;

// The bytes of a picture of width x height pixels of bits each, rows as
// they are stored (padded to four bytes).
inline uint64_t PictureBytes(int64_t width, int64_t height, int bits) {
  return static_cast<uint64_t>((width * bits + 31) / 32 * 4) * static_cast<uint64_t>(height);
}

// The memory an output needs, beside the picture; raises Error (too large)
// naming the format and the size when the picture and it together pass the
// context's memory limit.
uint64_t CheckEncoderMemory(const OutputFormat& format, const DibImage& image, const EncodeOptions& options);

// The quality track bar (0..9) as the 1..100 scale of the newer encoders:
// 5, 15, ..., 95, so that the middle of the bar is the middle of the scale
// and neither end asks for the encoder's extremes.
constexpr int ScaledQuality(int quality) { return 10 * (quality < 0 ? 0 : quality > 9 ? 9 : quality) + 5; }

}  // namespace velmora
