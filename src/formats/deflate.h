// zlib streams made in one go: large data with libdeflate, which writes the
// same format and header level bits as zlib at the same level in about half
// the time (the stream may be a few tenths of a per cent larger); small data
// with zlib itself, byte for byte as before.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

struct CompressedBytes {
  const uint8_t* data;
  size_t size;
};

// The zlib stream (RFC 1950) of data at level 0..9 (-1: zlib's default), in
// the calling thread's compressed-stream scratch buffer: valid until the
// next call on this thread. Raises std::bad_alloc when memory runs out.
CompressedBytes ZlibCompress(const uint8_t* data, size_t size, int level);

}  // namespace velmora
