// PNG input on libpng's simplified reader, which handles every colour type,
// bit depth and interlacing and keeps its error handling inside libpng.
// The image model has no alpha: transparent areas are composited over white.
#include <png.h>

#include <cstring>
#include <istream>
#include <iterator>
#include <vector>

#include "image/limits.h"
#include "readers/decoders/decoders.h"

namespace velmora {
namespace {

constexpr uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

bool RecognisesPng(std::istream& in) {
  const auto start = in.tellg();
  uint8_t head[8] = {};
  in.read(reinterpret_cast<char*>(head), 8);
  const bool yes = in.gcount() == 8 && std::memcmp(head, kSignature, 8) == 0;
  in.clear();
  in.seekg(start);
  return yes;
}

class PngGraphic : public BitmapGraphic {
 public:
  explicit PngGraphic(std::string name) : name_(std::move(name)) {}
  std::string ClassName() const override { return name_; }

 protected:
  void OnLoad(std::istream& in) override {
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
      throw std::runtime_error(std::string("PNG image error: ") + image.message);
    struct Guard {
      png_image* image;
      ~Guard() { png_image_free(image); }
    } guard{&image};
    CheckImageSize(image.width, image.height, "PNG image");
    image.format = PNG_FORMAT_BGR;
    Bitmap out(static_cast<int>(image.width), static_cast<int>(image.height), Bitmap::Format::k24Bit);
    png_color white{255, 255, 255};
    if (!png_image_finish_read(&image, &white, out.Data(), static_cast<png_int_32>(out.Stride()), nullptr))
      throw std::runtime_error(std::string("PNG image error: ") + image.message);
    bitmap_ = std::move(out);
  }

 private:
  std::string name_;
};

}  // namespace

const GraphicClass& PngSideClass() {
  static const GraphicClass cls{"PNGGraphic", [] { return std::make_unique<PngGraphic>("PNGGraphic"); }, RecognisesPng};
  return cls;
}

const GraphicClass& PngEncoderClass() {
  static const GraphicClass cls{"PngEncoder", [] { return std::make_unique<PngGraphic>("PngEncoder"); }, nullptr};
  return cls;
}

}  // namespace velmora
