// ".ico" input: the desktop's icon picture, which loads but cannot be drawn
// into the working bitmap, so such an input ends in ConvertError.

#include "formats/formats.h"
#include "formats/input_format.h"
#include "base/messages.h"

namespace velmora {
namespace {

class IconGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "Icon"; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }

 protected:
  void OnLoad(const uint8_t* head, size_t size) override {
    RequireBytes(size, 22, "Icon");
    if (head[0] || head[1] || head[2] != 1 || head[3] || (head[4] | head[5]) == 0)
      throw Error(ErrorKind::kUnsupported, Tr("Icon image is not valid"));
    width_ = head[6] ? head[6] : 256;
    height_ = head[7] ? head[7] : 256;
  }

 private:
  int width_ = 0, height_ = 0;
};

}  // namespace

const GraphicClass& IconClass() {
  static const GraphicClass cls{"Icon", [] { return std::make_unique<IconGraphic>(); }, nullptr};
  return cls;
}

const InputFormat& IconFormat() {
  static const InputFormat format{
      "Icon",
      {{Registration::kEarly, IconClass, "ico", N_("Windows icons")},
        {Registration::kSideFormat, IconClass, "ico", N_("Windows icons")}},
      nullptr,
      false,
      false,
      {}};
  return format;
}

}  // namespace velmora
