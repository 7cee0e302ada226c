// The median-cut style quantizers behind DibImage's 24Bit -> 8Bit / 4Bit
// conversions: a 5-6-5 histogram, a variance split tree and a lookup table.
#pragma once

#include "image/dib_image.h"

namespace velmora {

// At most 256 colours; one progress step per leaf of the split tree (256).
DibParts ConvertTrueColorTo8BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo);
// At most 16 colours, two pixels per byte (first in the high nibble); 16 steps.
DibParts ConvertTrueColorTo4BitRGBLow(const DibParts& src, ProgressSteps* progress, bool use_fmo);

}  // namespace velmora
