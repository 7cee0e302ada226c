// The per-format writers of the conversion, in their fixed order. Each is a
// few lines on top of its codec; the writer contract (path, overwrite
// question, atomic write, result line) is the Converter's.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
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
};

struct FormatWriter {
  std::string extension;  // "bmp", "jpg", ...
  std::function<bool(const Settings&)> ticked;
  std::function<void(const DibImage&, const WriterContext&, std::ostream&)> encode;
};

// bmp, jpg, png, ico, mag, tif, gif (single), pdf (single).
std::vector<FormatWriter> DefaultWriters();

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings& settings);
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings& settings);

}  // namespace velmora
