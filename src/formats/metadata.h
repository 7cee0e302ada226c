// EXIF and XMP carried from a source into its outputs, through exiv2 (the
// decoders find them, each packet within its limit): made to fit the output (the
// picture is already turned upright and may have another size), and added
// to a TIFF file, whose EXIF is a directory of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/graphic.h"

namespace velmora {

struct FittedMetadata {
  std::vector<uint8_t> exif;  // TIFF-structured; empty when there is none
  std::string xmp;
};

// The source's EXIF and XMP for an output of width x height: orientation 1,
// the pixel dimensions set, no thumbnail, the structure of the source's own
// file left out (strips, tiles, its profile), and without GPS when asked.
FittedMetadata FitMetadata(const Embedded& carried, int width, int height, bool strip_location);

// Adds the EXIF block's tags to a TIFF file made in memory.
void AddExifToTiff(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif);

}  // namespace velmora
