// Alias/Wavefront RLA input (rla, rpf): the active window of 8-bit colour
// channels (grey or RGB) and their matte, each scanline run-length encoded
// channel by channel, found through a table of scanline offsets that starts
// with the bottom row. Auxiliary channels (depth and the like) are skipped.
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("RLA image error");
constexpr size_t kHeaderSize = 740;

struct Header {
  int16_t left, right, bottom, top;
  int16_t storage, colour, matte, aux;
  int16_t colour_bits, matte_bits;
  int width() const { return right - left + 1; }
  int height() const { return top - bottom + 1; }
};

Header ReadHeader(ByteReader& in) {
  Header h{};
  in.Seek(8);  // the full window; the active window is the picture
  h.left = in.S16Be();
  h.right = in.S16Be();
  h.bottom = in.S16Be();
  h.top = in.S16Be();
  in.Skip(2);  // frame
  h.storage = in.S16Be();
  h.colour = in.S16Be();
  h.matte = in.S16Be();
  h.aux = in.S16Be();
  in.Seek(658);
  h.colour_bits = in.S16Be();
  in.Skip(2);  // matte type
  h.matte_bits = in.S16Be();
  in.Seek(kHeaderSize);
  return h;
}

bool Plausible(const Header& h) {
  return h.left <= h.right && h.bottom <= h.top && (h.colour == 1 || h.colour == 3) && h.matte >= 0 &&
         h.matte <= 1 && h.aux >= 0 && h.aux <= 16 && h.storage == 0 && h.colour_bits == 8 &&
         (h.matte == 0 || h.matte_bits == 8 || h.matte_bits == 0);
}

// An RLA file has no signature: the header must be consistent and every
// scanline offset must point into the file past the table.
bool RecognisesRla(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return false;
  ByteReader in(data, size, kWho);
  const Header h = ReadHeader(in);
  if (!Plausible(h)) return false;
  const uint64_t table_end = kHeaderSize + uint64_t(h.height()) * 4;
  if (table_end > size) return false;
  for (int y = 0; y < h.height(); ++y) {
    const uint32_t offset = in.U32Be();
    if (offset < table_end || offset >= size) return false;
  }
  return true;
}

class RlaGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "RlaGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (size < kHeaderSize) in.Truncated();
    const Header h = ReadHeader(in);
    if (h.left > h.right || h.bottom > h.top) in.Invalid(Tr("the active window is empty"));
    if (h.colour_bits != 8 || (h.matte && h.matte_bits != 8 && h.matte_bits != 0))
      in.Unsupported(Tr("only 8-bit channels are supported"));
    if (h.storage != 0 || (h.colour != 1 && h.colour != 3) || h.matte < 0 || h.matte > 1 || h.aux < 0)
      in.Invalid(Tr("the header describes no picture"));
    const int w = h.width(), rows = h.height();
    const int channels = h.colour + h.matte;
    // A run codes at most 128 bytes in two, and every scanline has an offset
    // and a length per channel.
    ClaimSize(w, rows, in.Remaining(), 64.0 / channels, kWho);
    const uint8_t* table = in.Take(uint64_t(rows) * 4);
    Bitmap out(w, rows, Bitmap::Format::k24Bit);
    std::vector<uint8_t> line(size_t(w) * channels);
    for (int y = 0; y < rows; ++y) {
      const size_t e = size_t(y) * 4;
      const uint32_t offset = (uint32_t{table[e]} << 24) | (table[e + 1] << 16) | (table[e + 2] << 8) | table[e + 3];
      in.Seek(offset);
      for (int c = 0; c < channels; ++c) {
        const uint16_t length = in.U16Be();
        ByteReader run(in.Take(length), length, kWho);
        Unpack(run, line.data() + size_t(w) * c, w);
      }
      uint8_t* d = out.Row(rows - 1 - y);
      for (int x = 0; x < w; ++x) {
        const uint8_t r = line[x];
        const uint8_t g = h.colour == 3 ? line[size_t(w) + x] : r;
        const uint8_t b = h.colour == 3 ? line[2 * size_t(w) + x] : r;
        const int a = h.matte ? line[size_t(w) * h.colour + x] : 255;
        d[x * 3] = OverWhite(b, a);
        d[x * 3 + 1] = OverWhite(g, a);
        d[x * 3 + 2] = OverWhite(r, a);
      }
    }
    bitmap_ = std::move(out);
  }

 private:
  // A count of 0 to 127 repeats the next byte count + 1 times; a negative
  // count -n is followed by n literal bytes.
  static void Unpack(ByteReader& in, uint8_t* out, int width) {
    int x = 0;
    while (x < width) {
      const int count = in.S8();
      if (count >= 0) {
        if (count + 1 > width - x) in.Invalid(Tr("a run goes past the end of its scanline"));
        const uint8_t value = in.U8();
        for (int i = 0; i <= count; ++i) out[x++] = value;
      } else {
        if (-count > width - x) in.Invalid(Tr("a run goes past the end of its scanline"));
        const uint8_t* p = in.Take(-count);
        for (int i = 0; i < -count; ++i) out[x++] = p[i];
      }
    }
  }
};

}  // namespace

const GraphicClass& RlaClass() {
  static const GraphicClass cls{"RlaGraphic", [] { return std::make_unique<RlaGraphic>(); }, RecognisesRla};
  return cls;
}

const InputFormat& RlaFormat() {
  static const InputFormat format{
      "RLA",
      {{Registration::kSideFormat, RlaClass, "rpf", N_("Alias/Wavefront images")},
        {Registration::kSideFormat, RlaClass, "rla", N_("Alias/Wavefront images")}},
      nullptr,
      true,
      true,
      {"image/x-rla"}};
  return format;
}

}  // namespace velmora
