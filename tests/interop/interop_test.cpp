// Files other programs write, read as those programs read them: the corpus
// make-corpus builds with the writers installed, each file converted by
// velmora-cli and compared with the writer's own reading of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "e2e/cli_fixture.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::RgbImage;

// Where the writer's own reading is the wrong one: what Velmora's reading
// is compared with instead, and why.
enum class Instead { kFlipped, kSource };
struct KnownFault {
  Instead instead;
  const char* why;
};
const std::map<std::string, KnownFault> kKnownFaults = {
    {"im-bottom.tga",
     {Instead::kFlipped,
      "ImageMagick 6 writes a bottom-origin Targa file top row first and reads it back the same wrong way; the "
      "file's origin flag is the truth"}},
    {"im-alpha.psd",
     {Instead::kSource,
      "ImageMagick 6 reads the merged picture of its own PSD with alpha wrongly (its layer shows the source, its "
      "merged picture does not); the merged picture holds the source"}},
};

double MeanDifference(const RgbImage& a, const RgbImage& b) {
  if (a.rgb.size() != b.rgb.size() || a.rgb.empty()) return 1000;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return sum / static_cast<double>(a.rgb.size());
}

RgbImage Flipped(const RgbImage& image) {
  RgbImage out = image;
  const size_t row = static_cast<size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y)
    std::copy_n(&image.rgb[row * (image.height - 1 - y)], row, &out.rgb[row * y]);
  return out;
}

class InteropTest : public test::CliTest {
 protected:
  // The corpus is made once for the tests that read it.
  static void SetUpTestSuite() {
    if (!test::HaveTool("convert")) return;
    corpus_ = new test::TempDir;
    const std::string make = std::string(VELMORA_SOURCE_DIR) + "/tests/interop/make-corpus";
    made_ = test::Run("'" + make + "' '" + corpus_->Path().string() + "' >/dev/null 2>&1") == 0;
    // Writers that are not installed are named, not failed.
    for (const std::string& line : Lines("skipped.tsv")) std::cout << "[ skipped  ] writer " << line << "\n";
    for (const std::string& line : Lines("failed.tsv")) std::cout << "[ no file  ] " << line << "\n";
  }
  static void TearDownTestSuite() {
    delete corpus_;
    corpus_ = nullptr;
  }
  void SetUp() override {
    REQUIRE_TOOL("convert");
    ASSERT_TRUE(made_) << "make-corpus failed";
  }
  static std::string Corpus(const std::string& name) { return *corpus_ / name; }
  static std::vector<std::string> Lines(const std::string& name) {
    std::ifstream in(Corpus(name));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) lines.push_back(line);
    return lines;
  }
  static inline test::TempDir* corpus_ = nullptr;
  static inline bool made_ = false;
};

TEST_F(InteropTest, EveryFileReadsAsItsWriterReadsIt) {
  const test::Result r = Cli("--color full -f png --out out '" + Corpus("cases") + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> cases = Lines("manifest.tsv");
  ASSERT_GE(cases.size(), 20u) << "the corpus is too small to say anything";
  std::printf("%-20s %-16s %5s %6s\n", "file", "writer", "max", "mean");
  for (const std::string& line : cases) {
    std::istringstream fields(line);
    std::string name, writer;
    int tolerance = 0;
    std::getline(fields, name, '\t');
    fields >> tolerance;
    fields.ignore();
    std::getline(fields, writer);
    const std::string out = dir / ("out/" + fs::path(name).stem().string() + ".png");
    if (!fs::exists(out)) {
      ADD_FAILURE() << name << " (" << writer << ") was not converted";
      continue;
    }
    const RgbImage mine = test::ReadPngStored(out);
    RgbImage theirs = test::ReadPngStored(Corpus("refs/" + name + ".png"));
    if (auto fault = kKnownFaults.find(name); fault != kKnownFaults.end()) {
      if (fault->second.instead == Instead::kFlipped) theirs = Flipped(theirs);
      if (fault->second.instead == Instead::kSource) theirs = test::ReadPngStored(Corpus("refs/source-alpha.png"));
      std::printf("(%s: %s)\n", name.c_str(), fault->second.why);
    }
    const int max = test::MaxDifference(mine, theirs);
    const double mean = MeanDifference(mine, theirs);
    std::printf("%-20s %-16s %5d %6.2f\n", name.c_str(), writer.c_str(), max, mean);
    EXPECT_LE(max, tolerance) << name << " from " << writer;
    EXPECT_LE(mean, 1.0) << name << " from " << writer;
  }
}

// ImageMagick's PNG (gAMA 1/2.2 and sRGB's cHRM), cjxl's lossless coding of
// it (gamma 0.45455) and a plain TIFF of the same picture: sRGB all three.
TEST_F(InteropTest, OnePictureThroughPngJpegXlAndTiffGivesTheSameBytes) {
  if (!fs::exists(Corpus("cases/gamma-jxl.jxl"))) GTEST_SKIP() << "cjxl is not installed";
  const test::Result r = Cli("--color full -f png --out same '" + Corpus("cases/gamma-png.png") + "' '" +
                             Corpus("cases/gamma-jxl.jxl") + "' '" + Corpus("cases/gamma-tif.tif") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const RgbImage tiff = test::ReadPngStored(dir / "same/gamma-tif.png");
  ASSERT_GT(tiff.width, 0);
  EXPECT_EQ(test::ReadPngStored(dir / "same/gamma-png.png").rgb, tiff.rgb);
  EXPECT_EQ(test::ReadPngStored(dir / "same/gamma-jxl.png").rgb, tiff.rgb);
}

}  // namespace
}  // namespace velmora
