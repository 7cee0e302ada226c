// A file for bytes an encoder must hold before it can write them (the PDF's
// compressed picture, whose length precedes it; a TIFF bound for a stream
// that cannot seek). The pipeline makes them on disk; without one, they are
// held in memory.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>

namespace velmora {

class ScratchFile {
 public:
  virtual ~ScratchFile() = default;
  // Where the bytes go; it can seek (a TIFF is patched as it is written).
  virtual std::ostream& Out() = 0;
  // Bytes written so far; raises Error when a write failed (a full disk).
  virtual uint64_t Size() = 0;
  // Everything written, from the start, to out.
  virtual void CopyTo(std::ostream& out) = 0;
};

// One in memory.
std::unique_ptr<ScratchFile> MemoryScratchFile();

}  // namespace velmora
