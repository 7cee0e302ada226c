#include "image/pixel_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/error.h"

namespace velmora {

namespace {

// From this size on, a picture's memory is its own mapping in huge pages
// where the kernel has them to give (transparent huge pages "madvise", as
// Debian sets them): a 144 MB photo then costs a few hundred page faults
// instead of some 36,000, which took more time than decoding it.
constexpr size_t kHugeFrom = size_t{4} << 20;

// Mappings of pictures that are gone, kept for the next pictures of a batch
// (the same size, as a camera's photos are): taking a mapping back costs
// clearing its bytes, where a new one costs a page fault per page and,
// with several threads, unmapping the old one costs every processor a TLB
// flush. Only pictures up to kKeepUpTo are kept, at most kKept of them; a
// request that fits none of them unmaps them all first, so that unusable
// ones do not pile up, and the batch's end releases them (a batch of
// 3000 x 2000 photos holds about one picture more at its peak).
constexpr size_t kKeepUpTo = size_t{64} << 20;
constexpr size_t kKept = 4;

struct Mapping {
  void* data;
  size_t size;
};

class KeptMappings {
 public:
  // A kept mapping of reserved bytes in [size, size + size / 4], or none.
  void* Take(size_t size, size_t& reserved) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < kept_.size(); ++i) {
      if (kept_[i].size >= size && kept_[i].size - size <= size / 4) {
        const Mapping m = kept_[i];
        kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(i));
        reserved = m.size;
        return m.data;
      }
    }
    for (const Mapping& m : kept_) munmap(m.data, m.size);
    kept_.clear();
    return nullptr;
  }
  bool Keep(void* data, size_t size) {
    if (size > kKeepUpTo) return false;
    std::lock_guard lock(mutex_);
    if (kept_.size() >= kKept) return false;
    kept_.push_back(Mapping{data, size});
    return true;
  }
  void Release() {
    std::lock_guard lock(mutex_);
    for (const Mapping& m : kept_) munmap(m.data, m.size);
    kept_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<Mapping> kept_;
};

class KeptMappingsOwner {
 public:
  ~KeptMappingsOwner() { kept.Release(); }
  KeptMappings kept;
};

// The program's one cache, released when a batch ends and at exit.
KeptMappings& Kept() {
  static KeptMappingsOwner owner;
  return owner.kept;
}

}  // namespace

void ReleaseKeptPixelMemory() { Kept().Release(); }

PixelMemory::PixelMemory(size_t size, bool mapped, bool zeroed)
    : size_(size), reserved_(size ? size : 1), mapped_(mapped || size >= kHugeFrom) {
  Allocate(zeroed);
}

void PixelMemory::Allocate(bool zeroed) {
  if (mapped_ && reserved_ >= kHugeFrom) {
    size_t kept_size = 0;
    if (void* p = Kept().Take(reserved_, kept_size)) {
      data_ = static_cast<uint8_t*>(p);
      reserved_ = kept_size;
      if (zeroed) std::memset(data_, 0, size_);
      return;
    }
  }
  if (mapped_) {
    void* p = mmap(nullptr, reserved_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw Error(ErrorKind::kTooLarge, Tr("GetMemory: Cannot Make View of File Map"));
    data_ = static_cast<uint8_t*>(p);  // anonymous mappings come zero-filled
    if (reserved_ >= kHugeFrom) madvise(p, reserved_, MADV_HUGEPAGE);  // a hint: refused, nothing changes
  } else {
    data_ = static_cast<uint8_t*>(std::calloc(reserved_, 1));
    if (!data_) throw std::bad_alloc();
  }
}

void PixelMemory::Shrink(size_t size) {
  if (size >= size_) return;
  size_ = size;
  if (!mapped_) return;  // a small picture on the heap keeps its block
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t keep = std::max(page, (size + page - 1) / page * page);
  if (keep < reserved_) {
    munmap(data_ + keep, reserved_ - keep);
    reserved_ = keep;
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
  if (!mapped_)
    std::free(data_);
  else if (reserved_ < kHugeFrom || !Kept().Keep(data_, reserved_))
    munmap(data_, reserved_);
  data_ = nullptr;
}

}  // namespace velmora
