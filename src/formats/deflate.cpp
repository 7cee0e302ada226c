#include "formats/deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <memory>
#include <new>

#include "base/scratch.h"

namespace velmora {
namespace {

// Below this, zlib's own bytes are kept: time does not matter there, and on
// small data libdeflate can come out a few per cent larger.
constexpr size_t kLibdeflateFrom = size_t{256} << 10;

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// One compressor per level and thread, made on first use: allocating one
// costs more than compressing a small picture.
libdeflate_compressor* CompressorFor(int level) {
  thread_local std::array<std::unique_ptr<libdeflate_compressor, FreeCompressor>, 10> compressors;
  auto& c = compressors[static_cast<size_t>(level)];
  if (!c) c.reset(libdeflate_alloc_compressor(level));
  if (!c) throw std::bad_alloc();
  return c.get();
}

}  // namespace

CompressedBytes ZlibCompress(const uint8_t* data, size_t size, int level) {
  if (size < kLibdeflateFrom) {
    uLongf length = compressBound(static_cast<uLong>(size));
    uint8_t* out = Scratch(ScratchSlot::kCompressed, length);
    if (compress2(out, &length, data, static_cast<uLong>(size), level) != Z_OK) throw std::bad_alloc();
    return {out, length};
  }
  libdeflate_compressor* compressor = CompressorFor(level < 0 || level > 9 ? 6 : level);
  const size_t bound = libdeflate_zlib_compress_bound(compressor, size);
  uint8_t* out = Scratch(ScratchSlot::kCompressed, bound);
  const size_t written = libdeflate_zlib_compress(compressor, data, size, out, bound);
  if (written == 0) throw std::bad_alloc();  // the bound always fits; nothing else fails
  return {out, written};
}

}  // namespace velmora
