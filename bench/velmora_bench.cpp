// Per-image costs on a 3000 x 2000 photo-like picture: preparation, decoding
// and every writer. Run with `make bench`; compare against the external tools
// with scripts/bench-tools.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
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
    Bitmap b;
    PhotoDib().AssignTo(b);
    std::ostringstream out;
    EncodeJpeg(b, 50, out);
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

void BM_AnimatedGif20Frames640x480(benchmark::State& state) {
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
    for (const DibImage& f : frames) {
      AddGifFrame(gif, f, false, "30", nullptr);
      gif.OptimizeColorTables();
      gif.OptimizeFrames(3);
    }
    std::ostringstream out;
    gif.SaveToStream(out);
    benchmark::DoNotOptimize(out.tellp());
  }
}
BENCHMARK(BM_AnimatedGif20Frames640x480)->Unit(benchmark::kMillisecond);

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

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();
