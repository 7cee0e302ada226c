#include "formats/pdf/pdf_document.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <regex>
#include <sstream>

#include "test_util.h"
#include "formats/pdf/pdf_report.h"

namespace velmora {
namespace {

DibImage Picture(int w, int h, bool indexed) {
  Bitmap b(w, h, Bitmap::Format::k24Bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, MakeColor(x * 255 / w, y * 255 / h, (x * y) & 255));
  DibImage d;
  d.Assign(b);
  if (indexed) d.SetPixelFormat(PixelFormat::k8Bit);
  return d;
}

// One or more pages through the report layer, as the writers assemble them;
// spooled as the combined output writes them, or in memory.
std::string MakePdf(const std::vector<DibImage>& images, bool shared,
                    PdfCompression compression = PdfCompression::cmFlateDecode, bool spooled = false) {
  PdfReport report;
  report.CompressionMethod = compression;
  ReportPage page;
  ReportPanel panel;
  ReportImage element;
  panel.items.push_back(&element);
  page.panels.push_back(&panel);
  report.OpenDocument();
  std::stringstream spool;
  if (spooled) report.Document()->StartSpooling(spool);
  for (const DibImage& image : images) {
    page.width = element.width = image.Width();
    page.height = element.height = image.Height();
    element.picture.Assign(image);
    element.has_picture = true;
    element.SharedImage = shared;
    report.PrintPage(page);
    if (spooled) report.Document()->FlushFinishedObjects();
  }
  std::ostringstream out;
  if (!spooled) {
    report.SaveDocument(out);
    return out.str();
  }
  report.Document()->FinishSpooling(out, [&](std::ostream& to) { to << spool.rdbuf(); });
  report.AbortDocument();
  return out.str();
}

std::string Between(const std::string& s, const std::string& from, const std::string& to, size_t start = 0) {
  const size_t a = s.find(from, start);
  if (a == std::string::npos) return "";
  const size_t b = s.find(to, a + from.size());
  return s.substr(a + from.size(), b - a - from.size());
}

std::string Inflate(const std::string& data) {
  std::string out(1 << 20, '\0');
  uLongf size = out.size();
  EXPECT_EQ(
      uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.data()), data.size()),
      Z_OK);
  out.resize(size);
  return out;
}

std::string StreamOf(const std::string& pdf, int number) {
  const std::string head = "\r\n" + std::to_string(number) + " 0 obj\r\n";
  const size_t at = pdf.find(head);
  const size_t s = pdf.find("\r\nstream\r\n", at) + 10;
  const size_t e = pdf.find("\nendstream", s);
  return pdf.substr(s, e - s);
}

TEST(PdfDocumentTest, OnePageOf640x480) {
  const std::string pdf = MakePdf({Picture(640, 480, false)}, true);
  EXPECT_EQ(pdf.substr(0, 11), "%PDF-1.2 \r\n");
  // Objects 1 to 7 in order, each at the offset the xref gives.
  const std::string xref = pdf.substr(pdf.rfind("\r\nxref\r\n") + 2);
  ASSERT_EQ(xref.substr(0, 11), "xref\r\n0 8\r\n");
  EXPECT_EQ(xref.substr(11, 20), "0000000000 65535 f\r\n");
  for (int n = 1; n <= 7; ++n) {
    const std::string line = xref.substr(11 + 20 * static_cast<size_t>(n), 20);
    ASSERT_EQ(line.substr(10), " 00000 n\r\n");
    const size_t offset = std::stoul(line.substr(0, 10));
    EXPECT_EQ(pdf.substr(offset, std::to_string(n).size() + 8), std::to_string(n) + " 0 obj\r\n") << n;
  }
  EXPECT_EQ(Between(pdf, "1 0 obj\r\n", "\r\nendobj"),
            "<<\r\n/Type /Catalog\r\n/Pages 3 0 R\r\n/PageMode /UseNone\r\n/PageLayout /SinglePage\r\n>>");
  const std::string info =
      std::regex_replace(Between(pdf, "2 0 obj\r\n", "\r\nendobj"), std::regex("D:\\d{14}"), "D:X");
  EXPECT_EQ(
      info,
      "<<\r\n/Producer (DuvuzEvo version 0.9)\r\n/Author (Velmora)\r\n/CreationDate (D:X)\r\n/Creator (Velmora)\r\n"
      "/Keywords ()\r\n/Subject ()\r\n/Title ()\r\n/ModDate (D:X)\r\n>>");
  EXPECT_EQ(Between(pdf, "3 0 obj\r\n", "\r\nendobj"), "<<\r\n/Type /Pages\r\n/Kids [4 0 R ]\r\n/Count 1\r\n>>");
  EXPECT_EQ(Between(pdf, "4 0 obj\r\n", "\r\nendobj"),
            "<<\r\n/Type /Page\r\n/Parent 3 0 R\r\n/MediaBox [0 0 640 480 ]\r\n/Resources <<\r\n/Font <<\r\n/F0 6 0 "
            "R\r\n>>\r\n"
            "/XObject <<\r\n/PDFCLIP 7 0 R\r\n>>\r\n/ProcSet [/PDF /Text /ImageC ]\r\n>>\r\n/Contents 5 0 R\r\n>>");
  EXPECT_EQ(Inflate(StreamOf(pdf, 5)), "/F0 10 Tf\nq\n640 0 0 480 0 0 cm\n/PDFCLIP Do\nQ\n");
  EXPECT_EQ(Between(pdf, "6 0 obj\r\n", "\r\nendobj"),
            "<<\r\n/Type /Font\r\n/Subtype /Type1\r\n/Encoding /WinAnsiEncoding\r\n/FirstChar 32\r\n/LastChar 255\r\n"
            "/BaseFont /Helvetica\r\n/Name /F0\r\n>>");
  const std::string image = Between(pdf, "7 0 obj\r\n", "\r\nstream");
  EXPECT_EQ(
      std::regex_replace(image, std::regex("/Length \\d+"), "/Length N"),
      "<<\r\n/Length N\r\n/Filter [/FlateDecode ]\r\n/Type /XObject\r\n/Subtype /Image\r\n/ColorSpace /DeviceRGB\r\n"
      "/Width 640\r\n/Height 480\r\n/BitsPerComponent 8\r\n/Name /PDFCLIP\r\n>>");
  EXPECT_EQ(Inflate(StreamOf(pdf, 7)).size(), 640u * 480u * 3u);
  const std::string trailer = pdf.substr(pdf.rfind("trailer\r\n"));
  EXPECT_EQ(trailer, "trailer\r\n<<\r\n/Size 8\r\n/Root 1 0 R\r\n/Info 2 0 R\r\n>>\r\nstartxref\r\n" +
                         std::to_string(pdf.rfind("\r\nxref\r\n") + 2) + "\r\n%%EOF\r\n");
  // Without compression the contents are the operators themselves.
  const std::string plain = MakePdf({Picture(640, 480, false)}, true, PdfCompression::cmNone);
  EXPECT_EQ(StreamOf(plain, 5), "/F0 10 Tf\nq\n640 0 0 480 0 0 cm\n/PDFCLIP Do\nQ\n");
  EXPECT_NE(plain.find("/Length 45\r\n/Filter []\r\n"), std::string::npos);
}

// A big picture's stream is made in one go by a faster compressor: its bytes
// may differ from zlib's, but not what they decompress to (the rows top
// down, red first), the header's level-9 bits, or its size by more than 3 %.
TEST(PdfDocumentTest, BigImageStreamsKeepTheirContentLevelBitsAndSize) {
  const Bitmap noise = test::NoiseBitmap(500, 400, Bitmap::Format::k24Bit, 3);
  DibImage image;
  image.Assign(noise);
  const std::string stream = CreatePdfBitmapImage(image)->Data();
  std::string rows;
  for (int y = 0; y < noise.Height(); ++y)
    for (int x = 0; x < noise.Width(); ++x) {
      const ColorValue c = noise.GetPixel(x, y);
      rows += static_cast<char>(ColorRed(c)), rows += static_cast<char>(ColorGreen(c)),
          rows += static_cast<char>(ColorBlue(c));
    }
  ASSERT_GE(rows.size(), size_t{256} << 10) << "large enough for the one-go compressor";
  EXPECT_TRUE(Inflate(stream) == rows);
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(static_cast<uint8_t>(stream[0]), 0x78);
  EXPECT_EQ(static_cast<uint8_t>(stream[1]) & 0xC0, 0xC0) << "level 9's bits";
  uLongf zlib_size = compressBound(static_cast<uLong>(rows.size()));
  std::string zlib_stream(zlib_size, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(zlib_stream.data()), &zlib_size,
                      reinterpret_cast<const Bytef*>(rows.data()), rows.size(), 9),
            Z_OK);
  EXPECT_LE(stream.size(), zlib_size * 103 / 100);
}

TEST(PdfDocumentTest, IndexedImageHasA256EntryTable) {
  const std::string pdf = MakePdf({Picture(8, 4, true)}, true);
  const std::string space = Between(pdf, "/ColorSpace [/Indexed /DeviceRGB 255 <", "> ]");
  EXPECT_EQ(space.size(), 256u * 7u);
  EXPECT_TRUE(std::regex_match(space, std::regex("([0-9A-F]{6} ){256}")));
  EXPECT_EQ(Inflate(StreamOf(pdf, 7)).size(), 32u);
}

TEST(PdfDocumentTest, SecondPageReusesTheFont) {
  const std::string pdf = MakePdf({Picture(100, 50, false), Picture(30, 300, true)}, false);
  size_t fonts = 0;
  for (size_t at = 0; (at = pdf.find("/Type /Font", at)) != std::string::npos; ++at) ++fonts;
  EXPECT_EQ(fonts, 1u);
  EXPECT_NE(pdf.find("/MediaBox [0 0 100 50 ]"), std::string::npos);
  EXPECT_NE(pdf.find("/MediaBox [0 0 30 300 ]"), std::string::npos);
  EXPECT_NE(pdf.find("/Kids [4 0 R 8 0 R ]"), std::string::npos);
  EXPECT_EQ(Between(pdf, "8 0 obj\r\n", "\r\nendobj").find("/Font <<\r\n/F0 6 0 R\r\n>>") != std::string::npos, true);
  const std::string second = Inflate(StreamOf(pdf, 9));
  EXPECT_EQ(second.substr(0, 10), "/F0 10 Tf\n");
  std::smatch m1, m2;
  const std::string first = Inflate(StreamOf(pdf, 5));
  ASSERT_TRUE(std::regex_search(first, m1, std::regex("/(PDFCLIP\\d+) Do")));
  ASSERT_TRUE(std::regex_search(second, m2, std::regex("/(PDFCLIP\\d+) Do")));
  EXPECT_NE(m1[1], m2[1]);
  EXPECT_NE(second.find("30 0 0 300 0 0 cm"), std::string::npos);
}

TEST(PdfDocumentTest, EscapingAndNumbers) {
  EXPECT_EQ(PdfEscapeName("A B"), "/A#20B");
  EXPECT_EQ(PdfEscapeName("a/b#(c)"), "/a#2Fb#23#28c#29");
  EXPECT_EQ(PdfEscapeText("a(b)"), "(a\\(b\\))");
  EXPECT_EQ(PdfEscapeText("x\\\r\n\t"), "(x\\\\\\r\\n\\t)");
  EXPECT_EQ(PdfEscapeText(""), "()");
  EXPECT_EQ(PdfEscapeText("あa"), "<FEFF001B656E001B30420061>");
  EXPECT_EQ(PdfFormatNumber(640), "640");
  EXPECT_EQ(PdfFormatNumber(0.5), "0.5");
  EXPECT_EQ(PdfFormatNumber(1.0 / 3), "0.33");
  EXPECT_EQ(PdfFormatNumber(2.005), "2.01");
  EXPECT_TRUE(std::regex_match(PdfDateNow(), std::regex("D:\\d{14}")));
}

TEST(PdfDocumentTest, ErrorMessages) {
  const auto error = test::ErrorOf<>;
  PdfDocument doc;
  std::ostringstream out;
  EXPECT_EQ(error([&] { doc.SaveToStream(out); }), "SaveToStream --there is no document to save.");
  EXPECT_EQ(error([&] { doc.Canvas(); }), "GetCanvas --Document is null");
  EXPECT_EQ(error([&] { doc.Info(); }), "GetInfo --this method can not use this state..");
  EXPECT_EQ(error([&] { doc.GetFont("Arial"); }), "GetFont --document is null.");
  doc.CreateDocument();
  EXPECT_EQ(error([&] { doc.SaveToStream(out); }), "GetPage --the Page is nil");
  doc.AddPage();
  EXPECT_EQ(error([&] { doc.Canvas().DrawXObject(0, 0, 1, 1, "none"); }), "DrawXObject --XObject not found: none");
  EXPECT_EQ(error([&] { doc.GetFont("Courier"); }), "CreateFont --InvalidFontName:Courier");
  doc.AddImage("X", CreatePdfBitmapImage(Picture(2, 2, false)));
  EXPECT_EQ(error([&] { doc.AddImage("X", CreatePdfBitmapImage(Picture(2, 2, false))); }),
            "AddImage --the image named X is already exists..");
  EXPECT_EQ(error([&] { doc.AddImage("Y", std::make_unique<PdfStream>()); }),
            "AddImage --the image is not valid PdfImage..");
  PdfXref xref;
  PdfObject* o = xref.AddObject(std::make_unique<PdfNull>());
  EXPECT_EQ(o->number, 1);
  auto again = std::make_unique<PdfNull>();
  again->state = PdfObject::State::kIndirect;
  EXPECT_EQ(error([&] { xref.AddObject(std::move(again)); }), "AddObject --wrong object type.");
  PdfReport report;
  EXPECT_EQ(error([&] { report.SaveDocument(out); }), "document is null..");
  report.OpenDocument();
  EXPECT_EQ(error([&] { report.SetAuthor("x"); }), "SetAuthor --invalid operation.");
  EXPECT_EQ(error([&] { report.SaveDocument(out); }), "GetPage --the Page is nil");
  // Re-setting a key moves it last; a reference looks through the xref.
  PdfDictionary d;
  d.Set("A", std::make_unique<PdfNumber>(1));
  d.Set("B", std::make_unique<PdfNumber>(2));
  d.Set("A", std::make_unique<PdfNumber>(3));
  d.Set("H", std::make_unique<PdfNumber>(4), true);
  EXPECT_EQ(d.Keys(), (std::vector<std::string>{"B", "A"}));
  d.Set("R", o);
  EXPECT_EQ(d.Get("R", &xref), o);
}

TEST(PdfDocumentTest, ASpooledDocumentIsTheBytesOfTheDocumentInMemory) {
  test::ScopedEnv epoch("SOURCE_DATE_EPOCH", "1700000000");
  const std::vector<DibImage> images = {Picture(5, 3, false), Picture(4, 6, true), Picture(7, 2, false)};
  const std::string spooled = MakePdf(images, false, PdfCompression::cmFlateDecode, /*spooled=*/true);
  EXPECT_EQ(spooled, MakePdf(images, false));
  EXPECT_EQ(spooled.substr(0, 20), "%PDF-1.2 \r\n1 0 obj\r\n");
}

TEST(PdfDocumentTest, WrittenPdfsPassQpdfAndRenderToTheSourcePixels) {
  if (!test::HaveTool("qpdf") || !test::HaveTool("pdftocairo"))
    GTEST_SKIP() << "qpdf or poppler-utils is not installed";
  test::TempDir dir;
  const std::vector<DibImage> images = {Picture(37, 23, false), Picture(19, 41, true)};
  const std::string combined = dir / "combined.pdf";
  test::WriteText(combined, MakePdf(images, false));
  EXPECT_EQ(test::Run("qpdf --check '" + combined + "' >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("pdftocairo -png -r 72 '" + combined + "' '" + (dir / "page") + "'"), 0);
  for (size_t i = 0; i < images.size(); ++i) {
    Bitmap expected;
    images[i].AssignTo(expected);
    const auto got = test::ReadPngRgb(dir / ("page-" + std::to_string(i + 1) + ".png"));
    EXPECT_EQ(got.width, expected.Width());
    EXPECT_EQ(got.rgb, test::ToRgb(expected).rgb) << "page " << i + 1;
  }
  REQUIRE_TOOL("pdftoppm");
  const std::string single = dir / "single.pdf";
  test::WriteText(single, MakePdf({images[1]}, true));
  EXPECT_EQ(test::Run("qpdf --check '" + single + "' >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("pdftoppm -png -r 72 '" + single + "' '" + (dir / "ppm") + "'"), 0);
  Bitmap expected;
  images[1].AssignTo(expected);
  const auto got = test::ReadPngRgb(dir / "ppm-1.png");
  const auto want = test::ToRgb(expected);
  ASSERT_EQ(got.rgb.size(), want.rgb.size());
  // Splash smooths image edges even at 1:1, so only the overall picture is
  // compared here; pdftocairo above checks every pixel.
  double total = 0;
  for (size_t k = 0; k < got.rgb.size(); ++k) total += std::abs(got.rgb[k] - want.rgb[k]);
  EXPECT_LE(total / static_cast<double>(got.rgb.size()), 12.0);
}

}  // namespace
}  // namespace velmora
