#include "pipeline/writers.h"

#include "writers/bmp/bmp_writer.h"
#include "writers/encoders/encoders.h"
#include "writers/png/png_encoder.h"

namespace velmora {

namespace {

// The quality track bar: position 0 ("高", strongest compression) to 9 ("美").
int QualityPosition(const Settings& s) { return s.O_quality_t < 0 ? 0 : s.O_quality_t > 9 ? 9 : s.O_quality_t; }

void WriteJpeg(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  Bitmap bitmap;
  image.AssignTo(bitmap);
  EncodeJpeg(bitmap, QualityPosition(ctx.settings) * 10, out);
}

void WriteTiff(const DibImage& image, const WriterContext&, std::ostream& out) {
  Bitmap bitmap;
  image.AssignTo(bitmap);
  EncodeTiff(bitmap, out);
}

void WritePng(const DibImage& image, const WriterContext& ctx, std::ostream& out) {
  static const int kLevel[10] = {9, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  PngEncoder encoder;
  encoder.Assign(image);
  encoder.CompressionLevel = kLevel[QualityPosition(ctx.settings)];
  if (ctx.settings.C_Trans) {
    encoder.SetTransparent(true);
    if (ctx.settings.V_transparent) {
      encoder.SetTransparentColor(ctx.picked_color);
    } else {
      Bitmap copy;
      image.AssignTo(copy);
      encoder.SetTransparentColor(copy.GetPixel(0, 0));
    }
  } else {
    encoder.SetTransparent(false);
  }
  encoder.SaveToStream(out);
}

}  // namespace

std::vector<FormatWriter> DefaultWriters() {
  std::vector<FormatWriter> w;
  w.push_back({"bmp", [](const Settings& s) { return s.C_bmp; },
               [](const DibImage& image, const WriterContext&, std::ostream& out) { EncodeBmp(image, out); }});
  w.push_back({"jpg", [](const Settings& s) { return s.C_jpg; }, WriteJpeg});
  w.push_back({"png", [](const Settings& s) { return s.C_png; }, WritePng});
  w.push_back({"ico", [](const Settings& s) { return s.C_ico; }, nullptr});
  w.push_back({"mag", [](const Settings& s) { return s.C_mag; }, nullptr});
  w.push_back({"tif", [](const Settings& s) { return s.C_tif; }, WriteTiff});
  w.push_back({"gif", [](const Settings& s) { return s.C_gif; }, nullptr});
  w.push_back({"pdf", [](const Settings& s) { return s.C_pdf; }, nullptr});
  return w;
}

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings&) { return nullptr; }
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings&) { return nullptr; }

}  // namespace velmora
