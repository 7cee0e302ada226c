// Sizes a HEIF file makes its decoders allocate, read before libheif is let
// loose on it. libheif 1.15 builds a grid's or an overlay's canvas at the
// size their own data give, and hands HEVC parameter sets to the decoder,
// without comparing either with the size the file declares; a few hundred
// hostile bytes can so ask for gigabytes. Reading these sizes first lets
// the reader refuse such a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

struct CodedSize {
  uint32_t width;
  uint32_t height;
};

// Every sequence parameter set in every 'hvcC' box of the file, as far as
// each can be read; a box or set that cannot be read is skipped (the
// decoder refuses it too). Never reads outside [data, data + size).
std::vector<CodedSize> HevcConfigSizes(const uint8_t* data, size_t size);

// The output size of every grid ('grid') and overlay ('iovl') item whose data
// can be found (in 'idat' or in the file, through 'iloc'); items that cannot
// be read are skipped (libheif refuses them too).
std::vector<CodedSize> DerivedCanvasSizes(const uint8_t* data, size_t size);

}  // namespace velmora
