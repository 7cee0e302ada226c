// The one entry point of every fuzz target and of the ctest that replays
// the corpus and every hostile file ever found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::fuzz {

// The targets: one per decoder (by the extension its class is registered
// for), "loader" (content detection, then the class of a .png, .jpg, .bmp,
// .gif or .tif, picked by the first byte), "clipboard" (a packed DIB
// through both DIB readers) and "extras_<ext>" (a small picture carrying
// the bytes as a colour profile, EXIF and XMP through preparation into
// that output, as --keep-profile --keep-metadata --keep-alpha make it).
const std::vector<std::string>& Targets();

// Feeds data to a target. Refusals (velmora::Error) are the expected
// outcome; anything else a decoder raises, and every crash, is a finding.
void FuzzOne(const std::string& target, const uint8_t* data, size_t size);

}  // namespace velmora::fuzz
