#include "formats/deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <memory>
#include <new>
#include <stdexcept>

namespace velmora {

namespace {

// Below this, zlib's own bytes are kept: time does not matter there, and on
// small data libdeflate can come out a few per cent larger.
constexpr size_t kLibdeflateFrom = size_t{256} << 10;

}  // namespace

std::vector<uint8_t> ZlibCompress(const uint8_t* data, size_t size, int level) {
  if (size < kLibdeflateFrom) {
    uLongf length = compressBound(static_cast<uLong>(size));
    std::vector<uint8_t> out(length);
    if (compress2(out.data(), &length, data, static_cast<uLong>(size), level) != Z_OK) throw std::bad_alloc();
    out.resize(length);
    return out;
  }
  struct Free {
    void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
  };
  const std::unique_ptr<libdeflate_compressor, Free> compressor(
      libdeflate_alloc_compressor(level < 0 || level > 9 ? 6 : level));
  if (!compressor) throw std::bad_alloc();
  std::vector<uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), size));
  const size_t written = libdeflate_zlib_compress(compressor.get(), data, size, out.data(), out.size());
  if (written == 0) throw std::bad_alloc();  // the bound always fits; nothing else fails
  out.resize(written);
  return out;
}

}  // namespace velmora
