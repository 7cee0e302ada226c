#include "pipeline/writers.h"

#include "writers/bmp/bmp_writer.h"

namespace velmora {

std::vector<FormatWriter> DefaultWriters() {
  std::vector<FormatWriter> w;
  w.push_back({"bmp", [](const Settings& s) { return s.C_bmp; },
               [](const DibImage& image, const WriterContext&, std::ostream& out) { EncodeBmp(image, out); }});
  w.push_back({"jpg", [](const Settings& s) { return s.C_jpg; }, nullptr});
  w.push_back({"png", [](const Settings& s) { return s.C_png; }, nullptr});
  w.push_back({"ico", [](const Settings& s) { return s.C_ico; }, nullptr});
  w.push_back({"mag", [](const Settings& s) { return s.C_mag; }, nullptr});
  w.push_back({"tif", [](const Settings& s) { return s.C_tif; }, nullptr});
  w.push_back({"gif", [](const Settings& s) { return s.C_gif; }, nullptr});
  w.push_back({"pdf", [](const Settings& s) { return s.C_pdf; }, nullptr});
  return w;
}

std::unique_ptr<CombinedOutput> CreateAnimatedGif(const Settings&) { return nullptr; }
std::unique_ptr<CombinedOutput> CreateCombinedPdf(const Settings&) { return nullptr; }

}  // namespace velmora
