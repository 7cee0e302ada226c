#include "base/scratch.h"

#include <array>
#include <memory>

namespace velmora {
namespace {

struct Buffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
};

thread_local std::array<Buffer, static_cast<size_t>(ScratchSlot::kCount)> t_buffers;

}  // namespace

uint8_t* Scratch(ScratchSlot slot, size_t size) {
  Buffer& b = t_buffers[static_cast<size_t>(slot)];
  if (b.size < size || !b.bytes) {
    b.bytes.reset();  // the old one goes first: never both at once
    b.size = 0;
    b.bytes.reset(new uint8_t[size ? size : 1]);
    b.size = size;
  }
  return b.bytes.get();
}

void ReleaseScratch() {
  for (Buffer& b : t_buffers) b = Buffer{};
}

}  // namespace velmora
