// What the TIFF reader and writer share: libtiff on a buffer in memory, and
// libtiff's messages kept per handle instead of printed.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora::tiff {

// A buffer libtiff reads (data) or writes (grown as needed).
struct MemoryFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<uint8_t>* output = nullptr;  // set when writing
  uint64_t pos = 0;
};

// libtiff's first error about one handle; warnings are dropped (they concern
// tags the conversion does not use).
struct Diagnostics {
  char first_error[256] = {};
  bool failed = false;
  // " (the error)" when there was one, for appending to a message.
  std::string Suffix() const { return failed ? std::string(" (") + first_error + ")" : std::string(); }
};

using Handle = std::unique_ptr<TIFF, decltype(&TIFFClose)>;

// Opens the memory file in mode "r" or "w" with per-handle diagnostics and,
// when max_alloc is not 0, libtiff's limit on any single allocation.
Handle Open(const char* mode, MemoryFile& file, Diagnostics& diagnostics, int64_t max_alloc = 0);

}  // namespace velmora::tiff
