// The registries and the loader chain: which class reads what, content
// first and extension second, and refusals that name their reason.
#include "formats/loader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "formats/formats.h"
#include "formats/ico/ico_writer.h"
#include "formats/png/png_encoder.h"
#include "pipeline/writers.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;

using test::Decode;
using test::MagickFilesTest;

TEST(RegistryTest, ResultingClassPerExtension) {
  Loader loader;
  const std::map<std::string, std::string> expected = {
      {"bmp", "Bitmap"},      {"rle", "Bitmap"},       {"dib", "DibImage"},    {"ico", "Icon"},
      {"wmf", "Metafile"},    {"emf", "Metafile"},     {"jpg", "JPEGImage"},   {"jpeg", "JPEGImage"},
      {"jpe", "JPEGImage"},   {"jfif", "JPEGImage"},   {"gif", "GifImage"},    {"png", "PngEncoder"},
      {"tif", "TiffGraphic"}, {"tiff", "TiffGraphic"}, {"fax", "TiffGraphic"}, {"PNG", "PngEncoder"},
      {"Jpg", "JPEGImage"},   {"mag", "MagImage"},
      {"win", "TargaGraphic"}, {"vst", "TargaGraphic"}, {"vda", "TargaGraphic"}, {"tga", "TargaGraphic"},
      {"icb", "TargaGraphic"}, {"eps", "EpsGraphic"},   {"pcx", "PcxGraphic"},   {"pcc", "PcxGraphic"},
      {"scr", "PcxGraphic"},   {"rpf", "RlaGraphic"},   {"rla", "RlaGraphic"},   {"sgi", "SgiGraphic"},
      {"rgba", "SgiGraphic"},  {"rgb", "SgiGraphic"},   {"bw", "SgiGraphic"},    {"psd", "PsdGraphic"},
      {"pdd", "PsdGraphic"},   {"ppm", "PnmGraphic"},   {"pgm", "PnmGraphic"},   {"pbm", "PnmGraphic"},
      {"cel", "AutodeskGraphic"}, {"pic", "AutodeskGraphic"}, {"pcd", "PcdGraphic"}, {"cut", "CutGraphic"},
      {"psp", "PspGraphic"},   {"webp", "WebpGraphic"}, {"heic", "HeifGraphic"}, {"heif", "HeifGraphic"},
      {"avif", "HeifGraphic"}, {"jxl", "JxlGraphic"}};
  for (const auto& [ext, name] : expected) {
    const GraphicClass* cls = loader.Registry().FindExtension(ext);
    ASSERT_NE(cls, nullptr) << ext;
    EXPECT_EQ(cls->name, name) << ext;
  }
  EXPECT_EQ(loader.Registry().FindExtension("dat"), nullptr);
  EXPECT_EQ(loader.Registry().FindClipboardFormat(8)->name, "DibImage");
  EXPECT_EQ(loader.Registry().FindClipboardFormat(2)->name, "Bitmap");
  EXPECT_EQ(loader.Registry().FindClipboardFormat(14)->name, "Metafile");
  std::vector<std::string> order;
  for (const GraphicClass* cls : loader.Formats().ContentDetectionOrder()) order.push_back(cls->name);
  EXPECT_EQ(order, (std::vector<std::string>{"TargaGraphic", "TiffGraphic", "EpsGraphic", "PcxGraphic", "RlaGraphic",
                                             "SgiGraphic", "PsdGraphic", "PnmGraphic", "AutodeskGraphic", "PcdGraphic",
                                             "CutGraphic", "PspGraphic", "PNGGraphic", "WebpGraphic", "HeifGraphic",
                                             "JxlGraphic"}));
  // Each extension's own description, or the common one.
  EXPECT_EQ(loader.Registry().DescriptionOf("scr"), "Word 5.x screen capture images");
  EXPECT_EQ(loader.Registry().DescriptionOf("rgba"), "SGI true color images with alpha");
  EXPECT_EQ(loader.Registry().DescriptionOf("tga"), "Truevision images");
}

TEST(RegistryTest, RegisteringTwice) {
  GraphicRegistry registry;
  FileFormatList list(registry);
  list.Register("abc", "Common", "", &BitmapClass());
  EXPECT_EQ(test::ErrorOf([&] { list.Register("ABC", "Common", "", &IconClass()); }), "Attempt to register abc twice.");
  list.Register("abc", "Common", "Individual", &IconClass(), true);
  EXPECT_EQ(registry.FindExtension("abc"), &IconClass());
  EXPECT_EQ(registry.FileFormats().front().description, "Common");
  EXPECT_EQ(registry.FileFormats().back().description, "Individual");
  EXPECT_EQ(list.Classes().size(), 2u);
}

// Inputs made by our own writers, so that no outside tool is needed.
class LoaderFilesTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::function<void(std::ostream&)>& encode) {
    const std::string path = dir / name;
    test::WriteWith(path, encode);
    return path;
  }
  test::TempDir dir;
  Loader loader;
};

const Bitmap kGradient = test::RgbBitmap(7, 5, [](int x, int y) { return MakeColor(x * 40, 0, 255 - y * 50); });

TEST_F(LoaderFilesTest, ContentFirstThenExtension) {
  const std::string png = Write("p.png", [](std::ostream& out) {
    PngEncoder encoder;
    encoder.Assign(kGradient);
    encoder.SaveToStream(out);
  });
  fs::copy(png, dir / "picture.dat");
  EXPECT_EQ(loader.ClassFromContent(dir / "picture.dat")->name, "PNGGraphic");
  EXPECT_EQ(test::MaxDifference(Decode(loader, dir / "picture.dat"), test::ToRgb(kGradient)), 0);
  const std::string bmp =
      test::SaveBmp(dir / "b.bmp", test::RgbBitmap(4, 4, [](int, int) { return MakeColor(0, 128, 0); }));
  fs::copy(bmp, dir / "bitmap.dat");
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "bitmap.dat"); }), "拡張子 .dat の画像形式は処理できません");
  fs::copy(bmp, dir / "UPPER.BMP");
  EXPECT_EQ(Decode(loader, dir / "UPPER.BMP").At(0, 0), 0x008000u);
  const std::string ico = Write("i.ico", [](std::ostream& out) {
    EncodeIco(test::DibOf(test::RgbBitmap(16, 16, [](int, int) { return MakeColor(255, 0, 0); })), 16, false, out);
  });
  Bitmap b;
  auto graphic = loader.LoadFile(ico);
  EXPECT_EQ(test::ErrorOf([&] { graphic->AssignTo(b); }), "Icon を Bitmap に代入することはできません");
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "none.png"); }),
            "Cannot open file \"" + (dir / "none.png") + "\": No such file or directory");
}

// A class recognised by content that counts its decodes and refuses them.
struct Counting {
  static inline int decodes = 0;
  static inline ErrorKind kind = ErrorKind::kInvalidData;
  class Graphic : public BitmapGraphic {
   public:
    std::string ClassName() const override { return "Counting"; }

   protected:
    void OnLoad(const uint8_t*, size_t) override {
      ++decodes;
      throw Error(kind, "counting: refused");
    }
  };
  static const GraphicClass& Class() {
    static const GraphicClass cls{"Counting", [] { return std::make_unique<Graphic>(); },
                                  [](const uint8_t* d, size_t n) { return n >= 4 && std::memcmp(d, "CNT!", 4) == 0; }};
    return cls;
  }
};

TEST_F(LoaderFilesTest, AContentClassRefusalIsTheReasonAndDecodesOnce) {
  loader.Formats().Register("cnt", "Counting pictures", "", &Counting::Class());
  test::WriteText(dir / "a.cnt", "CNT! and nothing else");
  fs::copy(dir / "a.cnt", dir / "a.dat");
  fs::copy(dir / "a.cnt", dir / "a.bmp");
  for (const auto kind : {ErrorKind::kInvalidData, ErrorKind::kTooLarge}) {
    Counting::kind = kind;
    Counting::decodes = 0;
    // Its own extension: one decode, its reason.
    EXPECT_EQ(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "a.cnt"); }), "counting: refused");
    EXPECT_EQ(Counting::decodes, 1);
    // An extension no class has: still its reason, not the extension's.
    EXPECT_EQ(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "a.dat"); }), "counting: refused");
    EXPECT_EQ(Counting::decodes, 2);
  }
  // Another format's extension fails too: data that contradicted the
  // content class may have been that format's, whose reason is given;
  // a picture too large is this class's.
  Counting::kind = ErrorKind::kInvalidData;
  EXPECT_NE(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "a.bmp"); }), "counting: refused");
  Counting::kind = ErrorKind::kTooLarge;
  EXPECT_EQ(test::ErrorOf<Error>([&] { loader.LoadFile(dir / "a.bmp"); }), "counting: refused");
}

TEST_F(MagickFilesTest, DibGoesThroughTheStrictReader) {
  const std::string v5 = Make("v5.bmp", "-size 3x3 xc:blue");  // ImageMagick writes a 124-byte header
  fs::copy(v5, dir / "v5.dib");
  EXPECT_EQ(Decode(loader, v5).At(1, 1), 0x0000FFu);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "v5.dib"); }),
            "DibStorage.LoadFromStream: Invalid Bitmap Header Size");
  const std::string v3 = Make("v3.bmp", "-size 3x3 xc:blue", "BMP3:");
  fs::copy(v3, dir / "v3.dib");
  EXPECT_EQ(Decode(loader, dir / "v3.dib").At(2, 2), 0x0000FFu);
}

TEST_F(LoaderFilesTest, ASignatureGivesASecondChanceWhenTheExtensionsClassFails) {
  const DibImage picture = test::DibOf(test::RgbBitmap(16, 8, [](int x, int) { return MakeColor(x * 16, 90, 30); }));
  Settings settings;
  const WriterContext context{settings, kNoColor, FrameOptions{}};
  auto write = [&](const std::string& format, const std::string& name) {
    for (const FormatWriter& writer : DefaultWriters())
      if (writer.Extension() == format)
        return Write(name, [&](std::ostream& out) { writer.encode(picture, context, out); });
    throw std::runtime_error("no writer for " + format);
  };
  // A JPEG saved as .png, as downloads often are; a GIF saved as .bmp; a MAG
  // saved as .jpg. Each is read by what it is.
  const auto jpeg = Decode(loader, write("jpg", "photo.png"));
  EXPECT_EQ(jpeg.width, 16);
  EXPECT_LE(test::MaxDifference(jpeg, Decode(loader, write("jpg", "photo.jpg"))), 0);
  EXPECT_EQ(Decode(loader, write("gif", "anim.bmp")).At(15, 0), Decode(loader, write("gif", "anim.gif")).At(15, 0));
  EXPECT_EQ(Decode(loader, write("mag", "old.jpg")).width, 16);
  // An OS/2 2.x bitmap with the short 16-byte header, named .gif: the
  // signature takes every header the BMP reader takes.
  test::ByteBuilder os2;
  os2.Text("BM").U32Le(14 + 16 + 4 * 2 * 3).U32Le(0).U32Le(14 + 16).U32Le(16).U32Le(4).U32Le(2).U16Le(1).U16Le(24);
  for (int i = 0; i < 8; ++i) os2.U8(10).U8(20).U8(200);
  test::WriteFile(dir / "os2.gif", os2.bytes);
  EXPECT_EQ(Decode(loader, dir / "os2.gif").At(3, 1), 0xC8140Au);
  // A PNG saved as .jpg never needs the second chance: content finds it.
  EXPECT_EQ(loader.ClassFromContent(write("png", "shot.jpg"))->name, "PNGGraphic");
  // An extension without a class ends there, whatever the signature.
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(write("bmp", "picture.dat")); }), "拡張子 .dat の画像形式は処理できません");
  // When the signature's class fails too, the extension's error is told.
  std::vector<uint8_t> broken = test::ReadFile(dir / "photo.jpg");
  broken.resize(40);
  test::WriteFile(dir / "broken.gif", broken);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "broken.gif"); }), test::ErrorOf([&] {
              loader.LoadByExtension(dir / "broken.gif");
            }));
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "broken.gif"); }).rfind("GIF", 0), 0u);
  // A Targa picture named .dat is found by its content.
  test::ByteBuilder tga;
  tga.U8(0).U8(0).U8(2).Zeros(9).U16Le(2).U16Le(1).U8(24).U8(0x20).Raw({0, 0, 255, 255, 0, 0});
  test::WriteFile(dir / "targa.dat", tga.bytes);
  EXPECT_EQ(Decode(loader, dir / "targa.dat").At(1, 0), 0x0000FFu);
}

TEST_F(LoaderFilesTest, TruncatedAndCorruptFilesFailCleanly) {
  const DibImage picture = test::DibOf(test::RgbBitmap(32, 32, [](int x, int y) { return MakeColor(x * 8, 0, y * 8); }));
  Settings settings;
  const WriterContext context{settings, kNoColor, FrameOptions{}};
  std::vector<std::string> files;
  for (const FormatWriter& writer : DefaultWriters()) {
    if (writer.Extension() == "ico" || writer.Extension() == "pdf") continue;  // not read as pictures
    files.push_back(Write("t." + writer.Extension(), [&](std::ostream& out) { writer.encode(picture, context, out); }));
  }
  for (const auto& path : files) {
    const auto bytes = test::ReadFile(path);
    for (size_t cut : {size_t{0}, size_t{3}, size_t{20}, bytes.size() / 3}) {
      const std::string broken = dir / ("cut_" + std::to_string(cut) + "_" + fs::path(path).filename().string());
      test::WriteFile(broken, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
      EXPECT_THROW({
        Bitmap b;
        loader.LoadFile(broken)->AssignTo(b);
      }, Error) << broken;
    }
  }
}

TEST(HostileFilesTest, HugeDimensionsAreRefusedBeforeAllocating) {
  test::TempDir dir;
  Loader loader;
  // A GIF whose logical screen claims 65535 x 65535 pixels.
  std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B};
  test::WriteFile(dir / "huge_screen.gif", gif);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "huge_screen.gif"); }),
            "GIF image: 65535 x 65535 pixels cannot be held in 14 bytes");
  // A PNG whose header claims 60000 x 60000 pixels, with a valid CRC.
  std::vector<uint8_t> png = {137, 80, 78, 71,   13,   10, 26, 10,   0,    0, 0, 13, 'I', 'H', 'D',
                              'R', 0,  0,  0xEA, 0x60, 0,  0,  0xEA, 0x60, 8, 2, 0,  0,   0};
  const uLong crc = crc32(0, png.data() + 12, 17);
  for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(crc >> s));
  for (const char* type : {"IDAT", "IEND"}) {
    const std::vector<uint8_t> chunk = {
        0, 0, 0, 0, uint8_t(type[0]), uint8_t(type[1]), uint8_t(type[2]), uint8_t(type[3])};
    png.insert(png.end(), chunk.begin(), chunk.end());
    const uLong c = crc32(0, chunk.data() + 4, 4);
    for (int s = 24; s >= 0; s -= 8) png.push_back(static_cast<uint8_t>(c >> s));
  }
  test::WriteFile(dir / "huge_header.png", png);
  const std::string png_error = test::ErrorOf([&] { loader.LoadFile(dir / "huge_header.png"); });
  EXPECT_EQ(png_error, "PNG image: 60000 x 60000 pixels cannot be held in 16 bytes");
}


}  // namespace
}  // namespace velmora
