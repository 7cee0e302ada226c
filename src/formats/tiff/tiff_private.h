// What the TIFF reader and writer share: libtiff on a buffer in memory, and
// libtiff's messages kept per handle instead of printed.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora::tiff {

// The file libtiff writes. It starts in the thread's scratch memory, sized
// for what the caller expects, so that a batch does not fault a fresh buffer
// in for every picture; a file that outgrows it moves to the heap.
class OutputBuffer {
 public:
  explicit OutputBuffer(size_t expected);
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  // Writes n bytes at pos; a gap before pos reads as zeros.
  void Write(uint64_t pos, const void* bytes, size_t n);

 private:
  uint8_t* data_;
  size_t capacity_;
  size_t size_ = 0;
  std::unique_ptr<uint8_t[]> heap_;
};

// A buffer libtiff reads (data) or writes.
struct MemoryFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  OutputBuffer* output = nullptr;  // set when writing
  uint64_t pos = 0;
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
