#include "formats/deflate.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>

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

ZlibRows::ZlibRows(size_t total_bytes, int level, size_t piece, Sink sink, size_t one_go_limit)
    : total_(total_bytes), level_(level), piece_(piece), sink_(std::move(sink)),
      one_go_(total_bytes <= one_go_limit) {
  if (one_go_) {
    rows_ = Scratch(ScratchSlot::kRows, total_);
    return;
  }
  z_ = std::make_unique<z_stream>();
  if (deflateInit2(z_.get(), level_, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    z_.reset();
    throw Error(ErrorKind::kInternal, "zlib cannot start");
  }
  out_.resize(piece_ ? piece_ : size_t{1} << 16);
  z_->next_out = out_.data();
  z_->avail_out = static_cast<uInt>(out_.size());
}

ZlibRows::~ZlibRows() {
  if (z_) deflateEnd(z_.get());
}

uint8_t* ZlibRows::NextRow(size_t bytes) {
  if (one_go_) {
    if (bytes > total_ - used_) throw std::logic_error("ZlibRows: more rows than announced");
    uint8_t* row = rows_ + used_;
    used_ += bytes;
    return row;
  }
  Feed(Z_NO_FLUSH);
  row_.resize(bytes);
  pending_ = bytes;
  return row_.data();
}

void ZlibRows::Feed(int flush) {
  z_->next_in = row_.data();
  z_->avail_in = static_cast<uInt>(pending_);
  pending_ = 0;
  int rc;
  do {
    rc = deflate(z_.get(), flush);
    if (rc == Z_STREAM_ERROR) throw Error(ErrorKind::kInternal, "zlib failed");
    if (z_->avail_out == 0) {
      sink_(out_.data(), out_.size());
      z_->next_out = out_.data();
      z_->avail_out = static_cast<uInt>(out_.size());
    }
  } while (z_->avail_in > 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
}

void ZlibRows::Finish() {
  if (one_go_) {
    const CompressedBytes stream = ZlibCompress(rows_, used_, level_);
    const size_t piece = piece_ ? piece_ : stream.size;
    for (size_t at = 0; at < stream.size; at += piece) sink_(stream.data + at, std::min(piece, stream.size - at));
    return;
  }
  Feed(Z_FINISH);
  const size_t rest = out_.size() - z_->avail_out;
  if (rest > 0) sink_(out_.data(), rest);
}

}  // namespace velmora
