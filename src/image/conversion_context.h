// What one conversion may spend and how it is told to stop, handed
// explicitly by the pipeline to the decoders (through the loader), the image
// model and the encoders: no part of it travels per thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/error.h"
#include "base/scratch_file.h"
#include "image/limits.h"

namespace velmora {

struct ConversionContext {
  // What one input may claim and one conversion may hold.
  DecodeLimits limits;
  // Told the size of each picture a decoder is about to make, before it
  // makes it: the jobs' memory budget reserves the source's room there, and
  // may make it wait for it. Empty: nobody keeps account.
  std::function<void(int64_t width, int64_t height)> admit;
  // Set when the user stops the batch; long work asks between rows.
  const std::atomic<bool>* stop = nullptr;
  // Makes a scratch file near where the output goes; empty: in memory.
  std::function<std::unique_ptr<ScratchFile>()> scratch;

  void Admit(int64_t width, int64_t height) const {
    if (admit) admit(width, height);
  }
  bool Stopped() const { return stop && stop->load(std::memory_order_relaxed); }
  std::unique_ptr<ScratchFile> MakeScratch() const { return scratch ? scratch() : MemoryScratchFile(); }
};

}  // namespace velmora
