// zlib streams for the encoders. Pictures whose rows fit in kOneGoBytes are
// gathered and compressed in one go: large ones by libdeflate, which writes
// the same format and header level bits as zlib at the same level in about
// half the time (a few tenths of a per cent larger), small ones by zlib,
// byte for byte as before. Bigger pictures are fed to zlib row by row, so
// that they never need a second copy of themselves.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/error.h"

namespace velmora {

inline constexpr size_t kOneGoBytes = size_t{128} << 20;

struct CompressedBytes {
  const uint8_t* data;
  size_t size;
};

// The zlib stream (RFC 1950) of data at level 0..9 (-1: zlib's default), in
// the calling thread's compressed-stream scratch buffer: valid until the
// next call on this thread. Raises std::bad_alloc when memory runs out.
CompressedBytes ZlibCompress(const uint8_t* data, size_t size, int level);

// One zlib stream over rows written one after the other. The stream reaches
// the sink in pieces of exactly `piece` bytes, the last one shorter (PNG's
// IDAT chunking); with a piece of 0, in as few calls as it can (all at once
// when compressed in one go), so that a growing buffer behind the sink is
// not copied again and again. Raises std::bad_alloc, or ZlibError when zlib fails.
class ZlibRows {
 public:
  using Sink = std::function<void(const uint8_t* data, size_t size)>;
  // Rows of more than one_go_limit bytes in all are compressed as they come.
  ZlibRows(size_t total_bytes, int level, size_t piece, Sink sink, size_t one_go_limit = kOneGoBytes);
  ~ZlibRows();
  ZlibRows(const ZlibRows&) = delete;
  ZlibRows& operator=(const ZlibRows&) = delete;

  // Where the next row of `bytes` bytes is to be written.
  uint8_t* NextRow(size_t bytes);
  // Compresses what is left and hands the end of the stream to the sink.
  void Finish();

 private:
  void Feed(int flush);

  size_t total_;
  int level_;
  size_t piece_;
  Sink sink_;
  bool one_go_;
  uint8_t* rows_ = nullptr;  // one go: the scratch buffer
  size_t used_ = 0;
  std::vector<uint8_t> row_;  // row by row: the pending row
  size_t pending_ = 0;
  std::unique_ptr<z_stream> z_;
  std::vector<uint8_t> out_;
};

}  // namespace velmora
