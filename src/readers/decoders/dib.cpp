// ".dib" files and the clipboard DIB go through DibImage's own, stricter reader.
#include <istream>

#include "image/dib_image.h"
#include "readers/decoders/decoders.h"

namespace velmora {
namespace {

class DibGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "DibImage"; }
  void AssignTo(Bitmap& target) const override { image_.AssignTo(target); }
  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }
  void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data) override {
    image_.LoadFromClipboardFormat(format, data.data(), data.size());
  }

 protected:
  void OnLoad(std::istream& in) override { image_.LoadFromStream(in); }

 private:
  DibImage image_;
};

// The desktop's icon and metafile pictures: they load, but cannot be drawn
// into the working bitmap, so such inputs end in ConvertError.
class IconGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "Icon"; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }

 protected:
  void OnLoad(std::istream& in) override {
    uint8_t head[22];
    ReadExact(in, head, sizeof head, "Icon");
    if (head[0] || head[1] || head[2] != 1 || head[3] || (head[4] | head[5]) == 0)
      throw InvalidGraphicError("Icon image is not valid");
    width_ = head[6] ? head[6] : 256;
    height_ = head[7] ? head[7] : 256;
  }

 private:
  int width_ = 0, height_ = 0;
};

class MetafileGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "Metafile"; }
  int Width() const override { return 0; }
  int Height() const override { return 0; }

 protected:
  void OnLoad(std::istream& in) override {
    uint8_t head[4];
    ReadExact(in, head, sizeof head, "Metafile");
  }
};

}  // namespace

const GraphicClass& DibImageClass() {
  static const GraphicClass cls{"DibImage", [] { return std::make_unique<DibGraphic>(); }, nullptr};
  return cls;
}

const GraphicClass& IconClass() {
  static const GraphicClass cls{"Icon", [] { return std::make_unique<IconGraphic>(); }, nullptr};
  return cls;
}

const GraphicClass& MetafileClass() {
  static const GraphicClass cls{"Metafile", [] { return std::make_unique<MetafileGraphic>(); }, nullptr};
  return cls;
}

}  // namespace velmora
