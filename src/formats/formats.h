// The built-in graphic classes, one file each.
#pragma once

#include "formats/graphic.h"

namespace velmora {

const GraphicClass& BitmapClass();      // bmp, rle: every BMP variant a user meets
const GraphicClass& DibImageClass();    // dib and the clipboard DIB: the strict reader
const GraphicClass& IconClass();        // ico: not assignable to a bitmap
const GraphicClass& MetafileClass();    // wmf, emf: not assignable to a bitmap
const GraphicClass& JpegClass();        // jpeg, jpg, jpe, jfif
const GraphicClass& TargaClass();       // side format: win, vst, vda, tga, icb
const GraphicClass& TiffClass();        // side format: tiff, tif, fax
const GraphicClass& EpsClass();         // side format: eps, its TIFF, metafile or EPSI preview
const GraphicClass& PcxClass();         // side format: pcx, pcc, scr
const GraphicClass& RlaClass();         // side format: rpf, rla
const GraphicClass& SgiClass();         // side format: sgi, rgba, rgb, bw
const GraphicClass& PsdClass();         // side format: psd, pdd
const GraphicClass& PnmClass();         // side format: ppm, pgm, pbm
const GraphicClass& AutodeskClass();    // side format: cel, pic
const GraphicClass& PcdClass();         // side format: pcd
const GraphicClass& CutClass();         // side format: cut, with its .pal
const GraphicClass& PspClass();         // side format: psp
const GraphicClass& WebpClass();        // webp, by content too
const GraphicClass& HeifClass();        // heic, heif, avif, by content too
const GraphicClass& JxlClass();         // jxl, by content too
const GraphicClass& PngSideClass();     // side format: png, by signature
const GraphicClass& PngEncoderClass();  // "PNG": PNG input the side decoder refused
const GraphicClass& GifClass();         // "GIF": the first frame
const GraphicClass& MagClass();         // "MAG": MAki chan Graphic format

}  // namespace velmora
