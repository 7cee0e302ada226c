// What the readers and writers need of TIFF-structured metadata: the EXIF
// orientation, the EXIF of a TIFF file taken out as a block of its own, a
// tag's bytes, and Photoshop's resource blocks (where JPEG and PSD keep
// IPTC). Every read stays within the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace velmora {

// The orientation (1 to 8) recorded in EXIF data, which may start with the
// "Exif\0\0" marker or directly with the TIFF header; 1 when there is none
// or the data is damaged.
int ExifOrientation(const uint8_t* data, size_t size);

// The EXIF of a TIFF file as a block of its own (TIFF-structured, the
// file's byte order): the descriptive tags of its first directory (not
// those that describe the file's own pixels) with its EXIF, GPS and
// interoperability directories, each value copied and each offset made to
// fit the block. Empty when there is none or the structure is damaged, and
// when the block would exceed limit bytes; needed then receives its size.
std::vector<uint8_t> ExifFromTiff(const uint8_t* data, size_t size, size_t limit, uint64_t* needed);

// The bytes of a tag of a TIFF file's first directory; nullptr when it is
// absent or lies outside the data. entry, when given, receives the offset
// of the tag's directory entry.
const uint8_t* TiffTagBytes(const uint8_t* data, size_t size, uint16_t tag, uint64_t* length,
                            uint64_t* entry = nullptr);

// Calls visit(id, bytes, length) for each resource block of Photoshop's
// image resources ("8BIM"), until the data ends or a block is damaged.
void ForEachPhotoshopResource(const uint8_t* data, size_t size,
                              const std::function<void(uint16_t id, const uint8_t* bytes, size_t length)>& visit);

// Photoshop's resource holding IPTC-IIM records.
inline constexpr uint16_t kPhotoshopIptc = 0x0404;

}  // namespace velmora
