// zlib streams made in one go: large data with libdeflate, which writes the
// same format and header level bits as zlib at the same level about twice as
// fast; small data with zlib itself, byte for byte as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora {

// The zlib stream (RFC 1950) of data at level 0..9 (-1: zlib's default).
// Raises std::bad_alloc when memory runs out.
std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size, int level);

}  // namespace velmora
