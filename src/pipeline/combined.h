// The outputs one batch collects from all its sources: the animated GIF and
// the combined PDF. The batch driver creates one, adds a frame or page per
// source, and saves it under the last entry's name at the end.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>

#include "formats/output_format.h"
#include "image/dib_image.h"
#include "pipeline/ports.h"
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

class CombinedOutput {
 public:
  virtual ~CombinedOutput() = default;
  // extras: what the source carries that the output can hold (a PDF page
  // keeps the picture's kept profile).
  virtual void Add(const DibImage& image, const FrameOptions& options, const OutputExtras& extras = {}) = 0;
  virtual int Count() const = 0;
  virtual void Save(std::ostream& out) = 0;
};

}  // namespace velmora
