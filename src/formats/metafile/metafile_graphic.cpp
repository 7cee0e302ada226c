// ".wmf" and ".emf" input: the desktop's metafile picture, which loads but
// cannot be drawn into the working bitmap, so such an input ends in
// ConvertError.

#include "formats/formats.h"
#include "base/messages.h"
#include "formats/input_format.h"

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

const InputFormat& MetafileFormat() {
  static const InputFormat format{
      "Metafile",
      {{Registration::kEarly, MetafileClass, "wmf", N_("Windows metafiles")},
        {Registration::kEarly, MetafileClass, "emf", N_("Windows enhanced meta files")},
        {Registration::kClipboard, MetafileClass, "", "", "", 3},
        {Registration::kClipboard, MetafileClass, "", "", "", 14},
        {Registration::kSideFormat, MetafileClass, "wmf", N_("Windows metafiles")},
        {Registration::kSideFormat, MetafileClass, "emf", N_("Windows metafiles"), N_("Windows enhanced meta files")}},
      nullptr,
      false,
      false,
      {}};
  return format;
}

}  // namespace velmora
