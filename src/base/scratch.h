// Per-thread byte buffers for an encoder's big temporaries (the rows handed
// to the compressor, the compressed stream). They only grow and are not
// cleared, so a batch of same-sized pictures neither zero-fills nor
// page-faults them again for every file: on this kind of machine that costs
// as much as a third of a PNG's encoding time. A thread's buffers go with
// the thread; the batch driver releases its own thread's when a batch ends.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

enum class ScratchSlot { kRows, kCompressed, kCount };

// At least size bytes, uninitialised, valid until the next call for the same
// slot on this thread or ReleaseScratch(). Raises std::bad_alloc.
uint8_t* Scratch(ScratchSlot slot, size_t size);

// Frees the calling thread's buffers.
void ReleaseScratch();

}  // namespace velmora
