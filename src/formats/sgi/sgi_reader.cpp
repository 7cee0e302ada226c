// SGI image input (sgi, rgb, rgba, bw): verbatim or run-length encoded, one
// to four channels (grey, grey and alpha, RGB, RGBA), 8 or 16 bits a sample.
// Rows are stored bottom row first, channel after channel.
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("SGI image error");
constexpr size_t kHeaderSize = 512;

struct Header {
  uint8_t storage, bpc;
  uint16_t dimension, xsize, ysize, zsize;
  uint32_t colormap;
};

Header ReadHeader(ByteReader& in) {
  Header h{};
  in.Skip(2);
  h.storage = in.U8();
  h.bpc = in.U8();
  h.dimension = in.U16Be();
  h.xsize = in.U16Be();
  h.ysize = in.U16Be();
  h.zsize = in.U16Be();
  in.Seek(104);
  h.colormap = in.U32Be();
  in.Seek(kHeaderSize);
  return h;
}

bool RecognisesSgi(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || data[0] != 0x01 || data[1] != 0xDA) return false;
  return data[2] <= 1 && (data[3] == 1 || data[3] == 2);
}

class SgiGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "SgiGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (size < 4 || data[0] != 0x01 || data[1] != 0xDA) in.Invalid(Tr("not an SGI image file"));
    if (size < kHeaderSize) in.Truncated();
    Header h = ReadHeader(in);
    if (h.storage > 1 || (h.bpc != 1 && h.bpc != 2)) in.Invalid(Tr("the header describes no picture"));
    if (h.colormap != 0) in.Unsupported(Tr("colour-mapped SGI files are not supported"));
    if (h.dimension == 1) h.ysize = 1;
    if (h.dimension == 1 || h.dimension == 2) h.zsize = 1;
    if (h.dimension < 1 || h.dimension > 3) in.Invalid(Tr("the dimension {1} is not 1 to 3", {std::to_string(h.dimension)}));
    if (h.zsize == 0) in.Invalid(Tr("the picture has no channels"));
    const int channels = std::min<int>(h.zsize, 4);  // extra channels are not colour
    const int w = h.xsize, rows = h.ysize;
    // Run-length rows need an 8-byte table entry each, and a run codes at
    // most 127 samples in 1 + bpc bytes.
    ClaimSize(w, rows, in.Remaining(),
                     h.storage ? 127.0 / (1 + h.bpc) / channels : 1.0 / (h.bpc * channels), kWho);
    const size_t plane = size_t(w) * rows;
    CheckAllocation(Limits(), static_cast<int64_t>(plane) * channels, kWho);
    std::vector<uint8_t> samples(plane * channels);  // scaled to 8 bits, plane after plane
    if (h.storage == 0) {
      for (int c = 0; c < channels; ++c)
        for (size_t i = 0; i < plane; ++i) samples[plane * c + i] = Sample(in, h.bpc);
    } else {
      const uint64_t table = static_cast<uint64_t>(rows) * h.zsize;
      in.Seek(kHeaderSize);
      const uint8_t* starts = in.Take(table * 4);
      const uint8_t* lengths = in.Take(table * 4);
      for (int c = 0; c < channels; ++c)
        for (int y = 0; y < rows; ++y) {
          const size_t entry = size_t(c) * rows + y;
          const uint32_t start = GetBe(starts + entry * 4);
          const uint32_t length = GetBe(lengths + entry * 4);
          if (uint64_t{start} + length > size) in.Truncated();
          ByteReader row(data + start, length, kWho);
          UnpackRow(row, h.bpc, samples.data() + plane * c + size_t(w) * y, w);
        }
    }
    Bitmap out(w, rows, Bitmap::Format::k24Bit);
    for (int y = 0; y < rows; ++y) {
      const size_t from = size_t(w) * (rows - 1 - y);
      uint8_t* d = out.Row(y);
      for (int x = 0; x < w; ++x) {
        const size_t i = from + x;
        uint8_t r, g, b;
        int alpha = 255;
        if (channels <= 2) {
          r = g = b = samples[i];
          if (channels == 2) alpha = samples[plane + i];
        } else {
          r = samples[i];
          g = samples[plane + i];
          b = samples[2 * plane + i];
          if (channels == 4) alpha = samples[3 * plane + i];
        }
        d[x * 3] = OverWhite(b, alpha);
        d[x * 3 + 1] = OverWhite(g, alpha);
        d[x * 3 + 2] = OverWhite(r, alpha);
      }
    }
    bitmap_ = std::move(out);
  }

 private:
  static uint32_t GetBe(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  }
  static uint8_t Sample(ByteReader& in, int bpc) { return bpc == 1 ? in.U8() : ScaleSample(in.U16Be(), 65535); }

  // One row: counts with the top bit set copy that many samples, the others
  // repeat the next sample; a zero count ends the row.
  static void UnpackRow(ByteReader& in, int bpc, uint8_t* out, int width) {
    int x = 0;
    while (x < width) {
      const uint32_t code = bpc == 1 ? in.U8() : in.U16Be();
      const int count = static_cast<int>(code & 0x7F);
      if (count == 0) break;
      if (count > width - x) in.Invalid(Tr("a run goes past the end of its row"));
      if (code & 0x80) {
        for (int i = 0; i < count; ++i) out[x++] = Sample(in, bpc);
      } else {
        const uint8_t value = Sample(in, bpc);
        for (int i = 0; i < count; ++i) out[x++] = value;
      }
    }
    if (x < width) in.Truncated();
  }
};

}  // namespace

const GraphicClass& SgiClass() {
  static const GraphicClass cls{"SgiGraphic", [] { return std::make_unique<SgiGraphic>(); }, RecognisesSgi};
  return cls;
}

const InputFormat& SgiFormat() {
  static const InputFormat format{
      "SGI",
      {{Registration::kSideFormat, SgiClass, "sgi", N_("SGI images"), N_("SGI true color images")},
        {Registration::kSideFormat, SgiClass, "rgba", N_("SGI images"), N_("SGI true color images with alpha")},
        {Registration::kSideFormat, SgiClass, "rgb", N_("SGI images"), N_("SGI true color images")},
        {Registration::kSideFormat, SgiClass, "bw", N_("SGI images"), N_("SGI black/white images")}},
      nullptr,
      true,
      true,
      {"image/x-sgi", "image/x-rgb"}};
  return format;
}

}  // namespace velmora
