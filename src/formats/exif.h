// What the readers need from EXIF data: the orientation tag.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// The orientation (1 to 8) recorded in EXIF data, which may start with the
// "Exif\0\0" marker or directly with the TIFF header; 1 when there is none
// or the data is damaged. Reads only within the given bytes.
int ExifOrientation(const uint8_t* data, size_t size);

}  // namespace velmora
