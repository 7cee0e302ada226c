// ICO output: one square 8-bit image with a 1-bit AND mask, opaque or with a
// transparent colour taken from the icon's bottom-left pixel.
#pragma once

#include <iosfwd>

#include "image/bitmap.h"
#include "image/dib_image.h"

namespace velmora {

// The colour image (24 bits) and the mask (1 bit, 1 = transparent) of an icon.
struct MaskedIcon {
  Bitmap color;
  Bitmap mask;
};

// Stretches the image to size x size, quantizes it to 256 colours and writes
// the icon, transparent when trans is set.
void EncodeIco(const DibImage& image, int size, bool trans, std::ostream& out);
// The opaque file: the image's own BMP serialisation with biHeight doubled,
// biClrUsed 0 and an all-zero AND mask.
void WriteIconFile(DibImage image, std::ostream& out);
// Transparent colour = the bottom-left pixel; black pixels stay opaque.
MaskedIcon MakeMaskedIcon(const Bitmap& bitmap, int size);
// 8 bits on a fixed 256-colour table (nearest colour) plus the mask.
void WriteTransparentIconFile(const MaskedIcon& icon, std::ostream& out);

}  // namespace velmora
