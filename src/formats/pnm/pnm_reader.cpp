// Netpbm input (ppm, pgm, pbm): the plain (ASCII) and raw forms P1 to P6,
// with any maxval up to 65535. Only the first picture of a file is read.
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("PNM image error");

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Header and plain-form tokens: decimal numbers between white space and
// comments that run from '#' to the end of the line.
class Tokens {
 public:
  explicit Tokens(ByteReader& in) : in_(in) {}

  void SkipSpace() {
    while (!in_.AtEnd()) {
      const uint8_t c = in_.Data()[in_.Position()];
      if (c == '#') {
        while (!in_.AtEnd() && in_.U8() != '\n') {
        }
      } else if (IsSpace(c)) {
        in_.Skip(1);
      } else {
        return;
      }
    }
  }
  uint32_t Number(const char* what) {
    SkipSpace();
    if (in_.AtEnd()) in_.Truncated();
    uint64_t value = 0;
    int digits = 0;
    while (!in_.AtEnd()) {
      const uint8_t c = in_.Data()[in_.Position()];
      if (c < '0' || c > '9') break;
      value = value * 10 + (c - '0');
      if (value > 0xFFFFFFFFu) in_.Invalid(Tr("{1} is out of range", {Tr(what)}));
      in_.Skip(1);
      ++digits;
    }
    if (digits == 0) in_.Invalid(Tr("the {1} is not a number", {Tr(what)}));
    return static_cast<uint32_t>(value);
  }
  // A plain PBM's pixels need no separators: one digit each.
  int Bit() {
    SkipSpace();
    const uint8_t c = in_.U8();
    if (c != '0' && c != '1') in_.Invalid(Tr("a plain bitmap pixel is neither 0 nor 1"));
    return c - '0';
  }

 private:
  ByteReader& in_;
};

bool RecognisesPnm(const uint8_t* data, size_t size) {
  if (size < 3 || data[0] != 'P' || data[1] < '1' || data[1] > '6') return false;
  return IsSpace(data[2]) || data[2] == '#';
}

class PnmGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "PnmGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    if (!RecognisesPnm(data, size)) in.Invalid(Tr("not a PBM, PGM or PPM file"));
    const int kind = data[1] - '0';
    in.Skip(2);
    Tokens tokens(in);
    const uint32_t width = tokens.Number(N_("width"));
    const uint32_t height = tokens.Number(N_("height"));
    const bool bitmap = kind == 1 || kind == 4;
    const uint32_t maxval = bitmap ? 1 : tokens.Number(N_("maxval"));
    if (maxval == 0 || maxval > 65535) in.Invalid(Tr("the maxval {1} is not 1 to 65535", {std::to_string(maxval)}));
    const bool raw = kind >= 4;
    if (raw) {
      // Exactly one white-space character ends the header.
      if (in.AtEnd()) in.Truncated();
      if (!IsSpace(in.U8())) in.Invalid(Tr("the header does not end in white space"));
    }
    const int channels = (kind == 3 || kind == 6) ? 3 : 1;
    const int sample_bytes = maxval > 255 ? 2 : 1;
    const double per_byte = kind == 4 ? 8.0 : raw ? 1.0 / (channels * sample_bytes) : kind == 1 ? 1.0 : 0.5 / channels;
    ClaimSize(width, height, in.Remaining() + 1, per_byte, kWho);
    const int w = static_cast<int>(width), h = static_cast<int>(height);

    if (bitmap) {
      Bitmap out(w, h, Bitmap::Format::k1Bit);
      out.SetPalette({{255, 255, 255, 0}, {0, 0, 0, 0}});  // 1 is black
      const size_t row_bytes = (width + 7) / 8;
      for (int y = 0; y < h; ++y) {
        if (raw) {
          const uint8_t* s = in.Take(row_bytes);
          std::copy(s, s + row_bytes, out.Row(y));
          // Bits past the width stay clear.
          if (width % 8) out.Row(y)[row_bytes - 1] &= static_cast<uint8_t>(0xFF << (8 - width % 8));
        } else {
          for (int x = 0; x < w; ++x) out.SetIndex(x, y, tokens.Bit());
        }
      }
      bitmap_ = std::move(out);
      return;
    }

    auto sample = [&]() -> uint8_t {
      uint32_t v;
      if (!raw) {
        v = tokens.Number(N_("sample"));
      } else if (sample_bytes == 2) {
        v = in.U16Be();
      } else {
        v = in.U8();
      }
      if (v > maxval) in.Invalid(Tr("a sample exceeds the maxval"));
      return ScaleSample(v, maxval);
    };
    if (channels == 1) {
      Bitmap out(w, h, Bitmap::Format::k8Bit);
      out.SetPalette(GreyRamp(256));
      for (int y = 0; y < h; ++y) {
        uint8_t* d = out.Row(y);
        for (int x = 0; x < w; ++x) d[x] = sample();
      }
      bitmap_ = std::move(out);
      return;
    }
    Bitmap out(w, h, Bitmap::Format::k24Bit);
    for (int y = 0; y < h; ++y) {
      uint8_t* d = out.Row(y);
      for (int x = 0; x < w; ++x) {
        d[x * 3 + 2] = sample();
        d[x * 3 + 1] = sample();
        d[x * 3] = sample();
      }
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& PnmClass() {
  static const GraphicClass cls{"PnmGraphic", [] { return std::make_unique<PnmGraphic>(); }, RecognisesPnm};
  return cls;
}

const InputFormat& PnmFormat() {
  static const InputFormat format{
      "PNM",
      {{Registration::kSideFormat, PnmClass, "ppm", N_("Portable map images"), N_("Portable pixel map images")},
        {Registration::kSideFormat, PnmClass, "pgm", N_("Portable map images"), N_("Portable gray map images")},
        {Registration::kSideFormat, PnmClass, "pbm", N_("Portable map images"), N_("Portable bitmap images")}},
      nullptr,
      true,
      true,
      {"image/x-portable-anymap", "image/x-portable-pixmap", "image/x-portable-graymap", "image/x-portable-bitmap"}};
  return format;
}

}  // namespace velmora
