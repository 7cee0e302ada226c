// Pixel bytes of a DibStorage: zero-filled heap memory, or an anonymous
// read-write memory mapping so that very large images stay out of the heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Unmaps the memory of pictures kept for reuse (an idle program holds none).
void ReleaseKeptPixelMemory();

class PixelMemory {
 public:
  PixelMemory() = default;
  // Allocates size zero bytes (at least one byte is reserved); without
  // zeroed, a mapping taken back from an earlier picture keeps its bytes,
  // for a caller that writes every one of them.
  PixelMemory(size_t size, bool mapped, bool zeroed = true);
  ~PixelMemory();
  PixelMemory(PixelMemory&& other) noexcept;
  PixelMemory& operator=(PixelMemory&& other) noexcept;
  PixelMemory(const PixelMemory&) = delete;
  PixelMemory& operator=(const PixelMemory&) = delete;

  // Keeps the first size bytes (no more than now) and gives back the pages
  // beyond them.
  void Shrink(size_t size);

  uint8_t* Data() { return data_; }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  bool Mapped() const { return mapped_; }

 private:
  void Allocate(bool zeroed);
  void Release() noexcept;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t reserved_ = 0;
  bool mapped_ = false;
};

}  // namespace velmora
