// ".wmf" and ".emf" input: the desktop's metafile picture, which loads but
// cannot be drawn into the working bitmap, so such an input ends in
// ConvertError.

#include "formats/formats.h"

namespace velmora {
namespace {

class MetafileGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "Metafile"; }
  int Width() const override { return 0; }
  int Height() const override { return 0; }

 protected:
  void OnLoad(const uint8_t*, size_t size) override { RequireBytes(size, 4, "Metafile"); }
};

}  // namespace

const GraphicClass& MetafileClass() {
  static const GraphicClass cls{"Metafile", [] { return std::make_unique<MetafileGraphic>(); }, nullptr};
  return cls;
}

}  // namespace velmora
