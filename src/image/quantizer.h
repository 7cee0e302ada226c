// The median-cut style quantizers behind DibImage's 24Bit -> 8Bit / 4Bit
// conversions: a 5-6-5 histogram, a variance split tree and a lookup table.
#pragma once

#include "image/dib_image.h"

namespace velmora {

// At most 256 colours; one progress step per leaf of the split tree (256).
DibParts ConvertTrueColorTo8BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo);
// At most 16 colours, two pixels per byte (first in the high nibble); 16 steps.
DibParts ConvertTrueColorTo4BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo);
// The same, the result written over src's own rows (a row never reaches the
// rows still to be read) and the rest of its memory given back: a picture is
// not held twice. src keeps its pixels if the conversion raises, and is
// left without them otherwise.
DibParts ConvertTrueColorTo8BitRGBLowInPlace(DibParts& src, ProgressSteps* progress);
DibParts ConvertTrueColorTo4BitRGBLowInPlace(DibParts& src, ProgressSteps* progress);

}  // namespace velmora
