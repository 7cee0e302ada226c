// ".dib" files and the clipboard DIB go through DibImage's own, stricter reader.
#include "base/memory_stream.h"

#include "image/dib_image.h"
#include "formats/formats.h"

namespace velmora {
namespace {

class DibGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "DibImage"; }
  void AssignTo(Bitmap& target) const override { image_.AssignTo(target); }
  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }
  void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data) override {
    image_.LoadFromClipboardFormat(format, data.data(), data.size(), Limits());
  }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    MemoryInput in(data, size);
    image_.LoadFromStream(in, Limits());
  }

 private:
  DibImage image_;
};

}  // namespace

const GraphicClass& DibImageClass() {
  static const GraphicClass cls{"DibImage", [] { return std::make_unique<DibGraphic>(); }, nullptr};
  return cls;
}

}  // namespace velmora
