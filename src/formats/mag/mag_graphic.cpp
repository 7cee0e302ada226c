// MAG input through the MAG codec.
#include <cstring>
#include <vector>

#include "formats/formats.h"
#include "base/messages.h"
#include "formats/input_format.h"
#include "formats/mag/mag_image.h"

namespace velmora {
namespace {

bool RecognisesMag(const uint8_t* data, size_t size) { return size >= 5 && std::memcmp(data, "MAKI0", 5) == 0; }

class MagGraphic : public Graphic {
 public:
  std::string ClassName() const override { return "MagImage"; }
  void AssignTo(Bitmap& target) const override { image_.AssignTo(target); }
  int Width() const override { return image_.Width(); }
  int Height() const override { return image_.Height(); }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override { image_.LoadFromBytes(std::vector<uint8_t>(data, data + size), Limits(), Context()); }

 private:
  MagImage image_;
};

}  // namespace

const GraphicClass& MagClass() {
  static const GraphicClass cls{"MagImage", [] { return std::make_unique<MagGraphic>(); }, nullptr};
  return cls;
}

const InputFormat& MagFormat() {
  static const InputFormat format{
      "MAG",
      {{Registration::kLate, MagClass, "MAG", N_("MAki chan Graphic format")}},
      RecognisesMag,
      true,
      true,
      {"image/x-mag"}};
  return format;
}

}  // namespace velmora
