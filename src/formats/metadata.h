// EXIF, XMP and IPTC carried from a source into its outputs, through exiv2
// (the decoders find them, each packet within its limit): made to fit the
// output (the picture is already turned upright and may have another size),
// and added to a TIFF file, whose EXIF is a directory of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/graphic.h"

namespace velmora {

struct FittedMetadata {
  std::vector<uint8_t> exif;  // TIFF-structured; empty when there is none
  std::string xmp;             // with the IPTC mirrored where it says nothing
  std::vector<uint8_t> iptc;   // IPTC-IIM records, for JPEG and TIFF
};

// The source's EXIF, XMP and IPTC for an output of width x height:
// orientation 1, the pixel dimensions set, no thumbnail, the structure of
// the source's own file left out (strips, tiles, its profile). The IPTC
// also goes into the XMP, for the outputs that hold no IPTC. Asked to strip
// the location: every location field of the three, the GPS of EXIF and XMP,
// IPTC's city, sublocation, province or state, country and its code and
// content location, XMP's Photoshop and IPTC Core mirrors of those and IPTC
// Extension's location created and shown.
FittedMetadata FitMetadata(const Embedded& carried, int width, int height, bool strip_location);

// Adds the EXIF block's tags to a TIFF file made in memory.
void AddExifToTiff(std::vector<uint8_t>& tiff, const std::vector<uint8_t>& exif);

}  // namespace velmora
