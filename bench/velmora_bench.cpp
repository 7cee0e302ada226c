// Per-image costs on a 3000 x 2000 photo-like picture: preparation, every
// decoder, every writer, and the floors of the libraries the writers wrap
// (libjpeg-turbo, libtiff, libdeflate) on the same pixels. Run with `make bench`; the
// comparison with other tools is bench/compare.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "image/dib_image.h"
#include "image/prepare.h"
#include "image/resample.h"
#include "formats/loader.h"
#include "formats/jpeg/jpeg_writer.h"
#include "formats/tiff/tiff_writer.h"
#include "formats/gif/gif_image.h"
#include "formats/ico/ico_writer.h"
#include "formats/mag/mag_image.h"
#include "formats/pdf/pdf_report.h"
#include "formats/png/png_encoder.h"
#include "base/string_sink.h"
#include "pipeline/writers.h"
#include "pipeline/settings.h"

#include <jpeglib.h>
#include <libdeflate.h>
#include <tiffio.h>

namespace velmora {
namespace {

// Smooth gradients with some texture: compresses like a photo, not like noise.
const Bitmap& Photo() {
  static const Bitmap photo = [] {
    Bitmap b(3000, 2000, Bitmap::Format::k24Bit);
    for (int y = 0; y < 2000; ++y) {
      uint8_t* row = b.Row(y);
      for (int x = 0; x < 3000; ++x) {
        const double t = std::sin(x * 0.01) * std::cos(y * 0.013);
        row[x * 3] = static_cast<uint8_t>(128 + 100 * t + ((x * 7 + y * 13) % 9));
        row[x * 3 + 1] = static_cast<uint8_t>((x + y) / 20 % 256);
        row[x * 3 + 2] = static_cast<uint8_t>(200 - 60 * t + ((x * y) % 5));
      }
    }
    return b;
  }();
  return photo;
}

const DibImage& PhotoDib() {
  static const DibImage dib = [] {
    DibImage d;
    d.Assign(Photo());
    return d;
  }();
  return dib;
}

const DibImage& Photo256() {
  static const DibImage dib = [] {
    DibImage d;
    d.Assign(Photo());
    d.SetPixelFormat(PixelFormat::k8Bit);
    return d;
  }();
  return dib;
}

// Also left in /tmp so that `djpeg` can be timed on the very same file.
const std::string& PhotoJpeg() {
  static const std::string jpeg = [] {
    std::ostringstream out;
    EncodeJpeg(Photo(), 90, out);
    std::ofstream("/tmp/velmora_bench_photo.jpg", std::ios::binary) << out.str();
    return out.str();
  }();
  return jpeg;
}

void BM_Quantize24To8(benchmark::State& state) {
  for (auto _ : state) {
    DibImage d;
    d.Assign(PhotoDib());
    d.SetPixelFormat(PixelFormat::k8Bit);
    benchmark::DoNotOptimize(d.Bits());
  }
}
BENCHMARK(BM_Quantize24To8)->Unit(benchmark::kMillisecond);

void BM_Expand8To24(benchmark::State& state) {
  for (auto _ : state) {
    DibImage d;
    d.Assign(Photo256());
    d.SetPixelFormat(PixelFormat::k24Bit);
    benchmark::DoNotOptimize(d.Bits());
  }
}
BENCHMARK(BM_Expand8To24)->Unit(benchmark::kMillisecond);

void BM_AssignSharesStorage(benchmark::State& state) {
  for (auto _ : state) {
    DibImage d;
    d.Assign(PhotoDib());
    benchmark::DoNotOptimize(d.Bits());
  }
}
BENCHMARK(BM_AssignSharesStorage);

void BM_Resample(benchmark::State& state) {
  const int num = static_cast<int>(state.range(0)), den = static_cast<int>(state.range(1));
  for (auto _ : state) {
    Bitmap out = ResampleBitmap(Photo(), 3000 / den * num, 2000 / den * num);
    benchmark::DoNotOptimize(out.Data());
  }
}
BENCHMARK(BM_Resample)->Args({1, 2})->Args({2, 3})->Args({2, 1})->Unit(benchmark::kMillisecond);

void BM_DecodeJpeg(benchmark::State& state) {
  Loader loader;
  const GraphicClass* cls = loader.Registry().FindExtension("jpg");
  for (auto _ : state) {
    std::istringstream in(PhotoJpeg());
    auto g = cls->create();
    g->LoadFromStream(in);
    Bitmap b;
    g->AssignTo(b);
    benchmark::DoNotOptimize(b.Data());
  }
}
BENCHMARK(BM_DecodeJpeg)->Unit(benchmark::kMillisecond);

void BM_WritePngLevel5(benchmark::State& state) {
  for (auto _ : state) {
    PngEncoder e;
    e.Assign(PhotoDib());
    e.CompressionLevel = 5;
    std::ostringstream out;
    e.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WritePngLevel5)->Unit(benchmark::kMillisecond);

void BM_WriteJpeg50(benchmark::State& state) {
  for (auto _ : state) {
    std::ostringstream out;
    EncodeJpeg(PhotoDib(), 50, out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteJpeg50)->Unit(benchmark::kMillisecond);

void BM_WriteGif(benchmark::State& state) {
  for (auto _ : state) {
    GifImage gif;
    AddGifFrame(gif, Photo256(), false, "30", nullptr);
    gif.OptimizeColorTables();
    gif.OptimizeFrames(3);
    std::ostringstream out;
    gif.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteGif)->Unit(benchmark::kMillisecond);

// A batch's animation, spooled as the pipeline does: every frame added
// re-indexes all the frames before it, so the cost per frame must not grow
// with their number (200 frames should cost about ten times 20).
void BM_AnimatedGif640x480(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  std::vector<DibImage> frames;
  for (int i = 0; i < 20; ++i) {
    Bitmap b = ResampleBitmap(Photo(), 640 + i, 480);
    Bitmap crop(640, 480, Bitmap::Format::k24Bit);
    for (int y = 0; y < 480; ++y) std::copy(b.Row(y) + i * 3, b.Row(y) + i * 3 + 640 * 3, crop.Row(y));
    DibImage d;
    d.Assign(crop);
    d.SetPixelFormat(PixelFormat::k8Bit);
    frames.push_back(d);
  }
  for (auto _ : state) {
    GifImage gif;
    gif.SpoolFrames();
    for (int n = 0; n < count; ++n) {
      AddGifFrame(gif, frames[static_cast<size_t>(n) % frames.size()], false, "30", nullptr);
      gif.OptimizeColorTables();
      gif.OptimizeFrames(3);
    }
    std::ostringstream out;
    gif.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_AnimatedGif640x480)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_WritePdf(benchmark::State& state) {
  for (auto _ : state) {
    PdfReport report;
    ReportPage page;
    ReportPanel panel;
    ReportImage element;
    panel.items.push_back(&element);
    page.panels.push_back(&panel);
    page.width = element.width = 3000;
    page.height = element.height = 2000;
    element.picture.Assign(PhotoDib());
    element.has_picture = true;
    report.OpenDocument();
    report.PrintPage(page);
    std::ostringstream out;
    report.SaveDocument(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WritePdf)->Unit(benchmark::kMillisecond);

void BM_WriteMag256(benchmark::State& state) {
  for (auto _ : state) {
    MagImage mag;
    mag.Assign(Photo256());
    std::ostringstream out;
    mag.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteMag256)->Unit(benchmark::kMillisecond);

void BM_WritePng256(benchmark::State& state) {
  for (auto _ : state) {
    PngEncoder e;
    e.Assign(Photo256());
    e.CompressionLevel = 5;
    std::ostringstream out;
    e.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WritePng256)->Unit(benchmark::kMillisecond);

void BM_WriteIco32(benchmark::State& state) {
  for (auto _ : state) {
    std::ostringstream out;
    EncodeIco(PhotoDib(), 32, false, out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteIco32)->Unit(benchmark::kMillisecond);

// Every decoder on the same picture, written in its format.
std::string InFormat(const std::string& extension) {
  const Bitmap& b = Photo();
  std::ostringstream out;
  if (extension == "bmp") {
    PhotoDib().SaveToStream(out);
  } else if (extension == "png") {
    PngEncoder e;
    e.Assign(PhotoDib());
    e.CompressionLevel = 5;
    e.SaveToStream(out);
  } else if (extension == "gif") {
    GifImage gif;
    AddGifFrame(gif, Photo256(), false, "30", nullptr);
    gif.SaveToStream(out);
  } else if (extension == "tif") {
    EncodeTiff(b, out);
  } else if (extension == "mag") {
    MagImage mag;
    mag.Assign(Photo256());
    mag.SaveToStream(out);
  } else if (extension == "tga") {  // uncompressed, top row first
    const char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<char>(3000 & 255), 3000 >> 8,
                             static_cast<char>(2000 & 255), 2000 >> 8, 24, 0x20};
    out.write(header, 18);
    for (int y = 0; y < 2000; ++y) out.write(reinterpret_cast<const char*>(b.Row(y)), 3000 * 3);
  } else if (extension == "ppm") {
    out << "P6\n3000 2000\n255\n";
    for (int y = 0; y < 2000; ++y)
      for (int x = 0; x < 3000; ++x) out.put(static_cast<char>(b.Row(y)[x * 3 + 2])).put(static_cast<char>(b.Row(y)[x * 3 + 1])).put(static_cast<char>(b.Row(y)[x * 3]));
  }
  return out.str();
}

// Loads the file of that name and content into a bitmap, over and over.
void DecodeLoop(benchmark::State& state, const std::string& name, const std::string& bytes) {
  Loader loader;
  for (auto _ : state) {
    auto g = loader.Load(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    Bitmap b;
    g->MoveTo(b);
    benchmark::DoNotOptimize(b.Data());
  }
}

void BM_Decode(benchmark::State& state, const std::string& extension) {
  DecodeLoop(state, "bench." + extension, extension == "jpg" ? PhotoJpeg() : InFormat(extension));
}
BENCHMARK_CAPTURE(BM_Decode, bmp, std::string("bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, jpg, std::string("jpg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, png, std::string("png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, gif, std::string("gif"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, tif, std::string("tif"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, mag, std::string("mag"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, tga, std::string("tga"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Decode, ppm, std::string("ppm"))->Unit(benchmark::kMillisecond);

// The decoders of formats we do not write, on the same picture made by
// ImageMagick (made once per run, in /tmp); skipped where it cannot.
std::string MadeByMagick(const std::string& extension, const std::string& options) {
  const std::string ppm = "/tmp/velmora_bench_photo.ppm", out = "/tmp/velmora_bench_photo." + extension;
  {
    std::ofstream f(ppm, std::ios::binary);
    f << InFormat("ppm");
  }
  const std::string command = "convert " + ppm + " " + options + " " + out + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  std::ifstream in(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void BM_DecodeMadeByMagick(benchmark::State& state, const std::string& extension, const std::string& options) {
  const std::string bytes = MadeByMagick(extension, options);
  if (bytes.empty()) {
    state.SkipWithError(("ImageMagick could not make a ." + extension + " file").c_str());
    return;
  }
  DecodeLoop(state, "bench." + extension, bytes);
}
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, tga_rle, std::string("tga"), std::string("-compress RLE"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, pcx, std::string("pcx"), std::string(""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, sgi_rle, std::string("sgi"), std::string("-compress RLE"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, psd_rle, std::string("psd"), std::string("-compress RLE"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, pcd, std::string("pcd"), std::string(""))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, webp, std::string("webp"), std::string("-quality 80"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeMadeByMagick, heic, std::string("heic"), std::string("-quality 60"))
    ->Unit(benchmark::kMillisecond);

// Formats no tool here writes: the small hand-built seeds of their fuzz
// targets, which time the per-file work of each reader.
void BM_DecodeSeed(benchmark::State& state, const std::string& relative) {
  std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/fuzz/corpus/" + relative, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) {
    state.SkipWithError(("missing seed " + relative).c_str());
    return;
  }
  DecodeLoop(state, relative.substr(relative.rfind('/') + 1), bytes);
}
BENCHMARK_CAPTURE(BM_DecodeSeed, rla, std::string("rla/small.rla"));
BENCHMARK_CAPTURE(BM_DecodeSeed, cel, std::string("cel/small.cel"));
BENCHMARK_CAPTURE(BM_DecodeSeed, cut, std::string("cut/small.cut"));
BENCHMARK_CAPTURE(BM_DecodeSeed, psp, std::string("psp/small.psp"));
BENCHMARK_CAPTURE(BM_DecodeSeed, eps, std::string("eps/dos-tiff.eps"));

void BM_WriteBmp(benchmark::State& state) {
  for (auto _ : state) {
    std::ostringstream out;
    PhotoDib().SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteBmp)->Unit(benchmark::kMillisecond);

void BM_WriteTiffLzw(benchmark::State& state) {
  for (auto _ : state) {
    std::ostringstream out;
    EncodeTiff(Photo(), out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_WriteTiffLzw)->Unit(benchmark::kMillisecond);

// The floors: libjpeg-turbo's own decode and q50 encode, and libtiff's own
// LZW encode, of the same pixels, without anything of ours around them.

// libtiff writing into memory, as our writer does, so that no file system
// time lands in the floor.
struct MemoryTiff {
  std::vector<uint8_t> bytes;
  uint64_t at = 0;
  static tmsize_t Read(thandle_t, void*, tmsize_t) { return 0; }
  static tmsize_t Write(thandle_t h, void* data, tmsize_t n) {
    auto* m = static_cast<MemoryTiff*>(h);
    if (m->bytes.size() < m->at + n) m->bytes.resize(m->at + n);
    std::memcpy(m->bytes.data() + m->at, data, static_cast<size_t>(n));
    m->at += n;
    return n;
  }
  static toff_t Seek(thandle_t h, toff_t off, int whence) {
    auto* m = static_cast<MemoryTiff*>(h);
    m->at = whence == SEEK_SET ? off : whence == SEEK_CUR ? m->at + off : m->bytes.size() + off;
    return m->at;
  }
  static int Close(thandle_t) { return 0; }
  static toff_t Size(thandle_t h) { return static_cast<MemoryTiff*>(h)->bytes.size(); }
};

// The library's own LZW encode with the horizontal predictor, as our writer
// asks for; rows handed over red first, which libtiff wants.
size_t LibtiffLzw(const uint8_t* bgr, size_t stride, int width, int height) {
  MemoryTiff memory;
  TIFF* tif = TIFFClientOpen("floor", "w", &memory, MemoryTiff::Read, MemoryTiff::Write, MemoryTiff::Seek,
                             MemoryTiff::Close, MemoryTiff::Size, nullptr, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = bgr + stride * static_cast<size_t>(y);
    for (int x = 0; x < width; ++x) rgb[x * 3] = s[x * 3 + 2], rgb[x * 3 + 1] = s[x * 3 + 1], rgb[x * 3 + 2] = s[x * 3];
    TIFFWriteScanline(tif, rgb.data(), static_cast<uint32_t>(y), 0);
  }
  TIFFClose(tif);
  return memory.bytes.size();
}

void BM_FloorLibtiffLzw(benchmark::State& state) {
  const Bitmap& b = Photo();
  for (auto _ : state) benchmark::DoNotOptimize(LibtiffLzw(b.Row(0), 9000, 3000, 2000));
}
BENCHMARK(BM_FloorLibtiffLzw)->Unit(benchmark::kMillisecond);

// A JPEG decoded by libjpeg-turbo alone, blue first as our bitmaps hold it.
void LibjpegDecode(const std::string& jpeg, std::vector<uint8_t>& pixels) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_EXT_BGR;
  jpeg_start_decompress(&cinfo);
  pixels.resize(size_t{cinfo.output_width} * cinfo.output_height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = pixels.data() + size_t{cinfo.output_scanline} * cinfo.output_width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
}

size_t LibjpegEncode(const uint8_t* bgr, int width, int height, int quality) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(bgr + size_t{cinfo.next_scanline} * width * 3);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return size;
}

// libdeflate's zlib stream at a level over rows of RGB, each led by a
// filter byte (PNG, filter None) or not (PDF's Flate image): what our PNG
// and PDF writers cannot do with less. The buffers and the compressor are
// made once, so that only the library's work is timed.
size_t LibdeflateRows(const uint8_t* bgr, int width, int height, int level, bool filter_byte) {
  const size_t row = static_cast<size_t>(width) * 3 + (filter_byte ? 1 : 0);
  static std::vector<uint8_t> raw, out;
  static libdeflate_compressor* compressors[13] = {};
  libdeflate_compressor*& c = compressors[level];
  if (!c) c = libdeflate_alloc_compressor(level);
  raw.resize(row * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) {
    const uint8_t* s = bgr + static_cast<size_t>(width) * 3 * static_cast<size_t>(y);
    uint8_t* d = raw.data() + row * static_cast<size_t>(y);
    if (filter_byte) *d++ = 0;
    for (int x = 0; x < width; ++x) d[x * 3] = s[x * 3 + 2], d[x * 3 + 1] = s[x * 3 + 1], d[x * 3 + 2] = s[x * 3];
  }
  out.resize(libdeflate_zlib_compress_bound(c, raw.size()));
  const size_t n = libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size());
  // PNG's chunks carry a CRC over what they hold.
  if (filter_byte) benchmark::DoNotOptimize(libdeflate_crc32(0, out.data(), n));
  return n;
}

void BM_FloorLibjpegDecode(benchmark::State& state) {
  const std::string& jpeg = PhotoJpeg();
  std::vector<uint8_t> pixels;
  for (auto _ : state) {
    LibjpegDecode(jpeg, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_FloorLibjpegDecode)->Unit(benchmark::kMillisecond);

void BM_FloorLibjpegEncode50(benchmark::State& state) {
  const Bitmap& b = Photo();
  for (auto _ : state) benchmark::DoNotOptimize(LibjpegEncode(b.Row(0), 3000, 2000, 50));
}
BENCHMARK(BM_FloorLibjpegEncode50)->Unit(benchmark::kMillisecond);

// A whole conversion of the bench's JPEG as velmora-cli does it for one file
// (load, prepare at full colour, the writer of the table), without the file
// system; beside it the floor of the same work done by the libraries alone.
// bench/compare reports the ratio of the two pairs.
void BM_ConvertJpegTo(benchmark::State& state, const std::string& extension) {
  const std::string& jpeg = PhotoJpeg();
  Settings settings;
  settings.C_PixelColor = 0;
  settings.O_quality_t = settings.O_quality_c = 5;  // JPEG quality 50, as the comparison's --quality 6
  const FormatWriter* writer = nullptr;
  static const std::vector<FormatWriter> writers = DefaultWriters();
  for (const FormatWriter& w : writers)
    if (w.Extension() == extension) writer = &w;
  Loader loader;
  SpareStrings spare;
  for (auto _ : state) {
    auto g = loader.Load("bench.jpg", reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size());
    Bitmap working;
    g->MoveTo(working);
    g.reset();
    DibImage image;
    PrepareSize(working, settings.O_gsize);
    PreparePixelColor(std::move(working), image, settings.C_PixelColor);
    // Into memory, as the pipeline keeps a file that cannot wait on disk
    // for its turn: a string given back for the next file.
    StringSink out(spare.Take());
    writer->encode(image, WriterContext{settings, ColorValue{}, FrameOptions{}}, out);
    std::string bytes = out.Take();
    benchmark::DoNotOptimize(bytes.size());
    spare.Give(std::move(bytes));
  }
}
BENCHMARK_CAPTURE(BM_ConvertJpegTo, bmp, std::string("bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertJpegTo, png, std::string("png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertJpegTo, jpg, std::string("jpg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertJpegTo, tif, std::string("tif"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertJpegTo, pdf, std::string("pdf"))->Unit(benchmark::kMillisecond);
// Without a floor: the palette mapping and the formats' own coding are ours.
BENCHMARK_CAPTURE(BM_ConvertJpegTo, gif, std::string("gif"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ConvertJpegTo, mag, std::string("mag"))->Unit(benchmark::kMillisecond);

void BM_FloorJpegTo(benchmark::State& state, const std::string& extension) {
  const std::string& jpeg = PhotoJpeg();
  std::vector<uint8_t> pixels;
  for (auto _ : state) {
    LibjpegDecode(jpeg, pixels);
    // A BMP is the decoded rows as they are: the decode is its floor.
    if (extension == "jpg")
      benchmark::DoNotOptimize(LibjpegEncode(pixels.data(), 3000, 2000, 50));
    else if (extension == "tif")
      benchmark::DoNotOptimize(LibtiffLzw(pixels.data(), 9000, 3000, 2000));
    else if (extension == "png")
      benchmark::DoNotOptimize(LibdeflateRows(pixels.data(), 3000, 2000, 5, true));
    else if (extension == "pdf")
      benchmark::DoNotOptimize(LibdeflateRows(pixels.data(), 3000, 2000, 9, false));
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK_CAPTURE(BM_FloorJpegTo, bmp, std::string("bmp"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FloorJpegTo, png, std::string("png"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FloorJpegTo, jpg, std::string("jpg"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FloorJpegTo, tif, std::string("tif"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FloorJpegTo, pdf, std::string("pdf"))->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
