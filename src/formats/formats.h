// The built-in graphic classes, one file each.
#pragma once

#include "formats/graphic.h"

namespace velmora {

const GraphicClass& BitmapClass();      // bmp, rle: every BMP variant a user meets
const GraphicClass& DibImageClass();    // dib and the clipboard DIB: the strict reader
const GraphicClass& IconClass();        // ico: not assignable to a bitmap
const GraphicClass& MetafileClass();    // wmf, emf: not assignable to a bitmap
const GraphicClass& JpegClass();        // jpeg, jpg, jpe, jfif
const GraphicClass& TiffClass();        // side format: tiff, tif, fax
const GraphicClass& PngSideClass();     // side format: png, by signature
const GraphicClass& PngEncoderClass();  // "PNG": PNG input the side decoder refused
const GraphicClass& GifClass();         // "GIF": the first frame
const GraphicClass& MagClass();         // "MAG": MAki chan Graphic format

}  // namespace velmora
