#include "base/scratch_file.h"

#include <ostream>
#include <sstream>

#include "base/error.h"

namespace velmora {
namespace {

class MemoryScratch : public ScratchFile {
 public:
  std::ostream& Out() override { return bytes_; }
  uint64_t Size() override {
    const auto end = bytes_.tellp();
    if (!bytes_ || end < 0) throw Error(ErrorKind::kTooLarge, "the scratch buffer could not grow");
    return static_cast<uint64_t>(end);
  }
  void CopyTo(std::ostream& out) override {
    const std::string all = bytes_.str();
    out.write(all.data(), static_cast<std::streamsize>(all.size()));
  }

 private:
  std::ostringstream bytes_;
};

}  // namespace

std::unique_ptr<ScratchFile> MemoryScratchFile() { return std::make_unique<MemoryScratch>(); }

}  // namespace velmora
