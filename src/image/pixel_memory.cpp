#include "image/pixel_memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "base/messages.h"
#include "image/errors.h"

namespace velmora {

namespace {

// From this size on, a picture's memory is its own mapping in huge pages
// where the kernel has them to give (transparent huge pages "madvise", as
// Debian sets them): a 144 MB photo then costs a few hundred page faults
// instead of some 36,000, which took more time than decoding it.
constexpr size_t kHugeFrom = size_t{4} << 20;

}  // namespace

PixelMemory::PixelMemory(size_t size, bool mapped)
    : size_(size), reserved_(size ? size : 1), mapped_(mapped || size >= kHugeFrom) {
  if (mapped_) {
    void* p = mmap(nullptr, reserved_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw OutOfResourcesError(Tr("GetMemory: Cannot Make View of File Map"));
    data_ = static_cast<uint8_t*>(p);  // anonymous mappings come zero-filled
    if (reserved_ >= kHugeFrom) madvise(p, reserved_, MADV_HUGEPAGE);  // a hint: refused, nothing changes
  } else {
    data_ = static_cast<uint8_t*>(std::calloc(reserved_, 1));
    if (!data_) throw std::bad_alloc();
  }
}

PixelMemory::~PixelMemory() { Release(); }

PixelMemory::PixelMemory(PixelMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      reserved_(std::exchange(other.reserved_, 0)),
      mapped_(other.mapped_) {}

PixelMemory& PixelMemory::operator=(PixelMemory&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    reserved_ = std::exchange(other.reserved_, 0);
    mapped_ = other.mapped_;
  }
  return *this;
}

void PixelMemory::Release() noexcept {
  if (!data_) return;
  if (mapped_)
    munmap(data_, reserved_);
  else
    std::free(data_);
  data_ = nullptr;
}

}  // namespace velmora
