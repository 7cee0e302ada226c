// What the TIFF reader and writer share: libtiff on bytes in memory or on a
// stream that can seek, and libtiff's messages kept per handle instead of
// printed.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velmora::tiff {

// What libtiff reads (data) or writes (out, from its position base on,
// which it seeks back in to patch offsets).
struct MemoryFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  // Bytes read otherwise than the data holds them (offset, value): a tag
  // the reader refuses gets a type libtiff ignores before it copies it.
  // The data is then read, never mapped.
  std::vector<std::pair<uint64_t, uint8_t>> patches = {};
  std::ostream* out = nullptr;  // set when writing
  uint64_t base = 0;
  uint64_t written = 0;  // the end of what was written, from base
  uint64_t pos = 0;
  uint64_t at = UINT64_MAX;  // where out stands now, from base (unknown at first)
};

// libtiff's first error about one handle; warnings are dropped (they concern
// tags the conversion does not use).
struct Diagnostics {
  char first_error[256] = {};
  bool failed = false;
  // The lead, with libtiff's own text quoted after it when there was one.
  std::string Quoted(const std::string& lead) const;
};

using Handle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// Opens the memory file in mode "r" or "w" with per-handle diagnostics and,
// when max_alloc is not 0, libtiff's limit on any single allocation.
Handle Open(const char* mode, MemoryFile& file, Diagnostics& diagnostics, int64_t max_alloc = 0);

}  // namespace velmora::tiff
