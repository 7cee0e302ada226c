#include "image/prepare.h"

#include <algorithm>
#include <cmath>

#include "base/messages.h"
#include "image/resample.h"

namespace velmora {

void FactorSize(int gsize_index, int64_t w0, int64_t h0, int64_t& w, int64_t& h) {
  w = w0, h = h0;
  // Division before multiplication: 101 at 2/3 is 66, not 67.
  switch (gsize_index) {
    case 1:
      w = w0 / 2, h = h0 / 2;
      break;
    case 2:
      w = w0 / 3, h = h0 / 3;
      break;
    case 3:
      w = w0 / 5, h = h0 / 5;
      break;
    case 4:
      w = (w0 / 3) * 2, h = (h0 / 3) * 2;
      break;
    case 5:
      w = (w0 / 4) * 3, h = (h0 / 4) * 3;
      break;
    case 6:
      w = w0 * 2, h = h0 * 2;
      break;
    case 7:
      w = w0 * 3, h = h0 * 3;
      break;
    default:
      break;
  }
  // An image smaller than the divisor keeps one pixel in that direction
  // instead of failing on a zero size.
  if (w < 1) w = 1;
  if (h < 1) h = 1;
}

void PrepareSize(Bitmap& bitmap, int gsize_index, const DecodeLimits& limits) {
  if (gsize_index == 0) return;
  int64_t w = 0, h = 0;
  FactorSize(gsize_index, bitmap.Width(), bitmap.Height(), w, h);
  CheckImageSize(limits, w, h, "Bitmap");
  bitmap = ResampleBitmap(bitmap, static_cast<int>(w), static_cast<int>(h));
}

namespace {

bool ParseSide(const std::string& text, int max, int& value) {
  if (text.empty() || text.size() > 7) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > max) return false;
  value = v;
  return true;
}

// a * b / c to the nearest integer, at least 1. Sides are at most 2^24 and
// factors at most 2^20, so the product stays far from overflowing.
int64_t Scaled(int64_t a, int64_t b, int64_t c) { return std::max<int64_t>(1, (a * b + c / 2) / c); }

}  // namespace

std::optional<SizeFit> ParseSizeFit(const std::string& text) {
  constexpr int kSide = 1 << 20;
  SizeFit fit;
  if (!text.empty() && text.back() == '%') {
    fit.kind = SizeFit::Kind::kPercent;
    if (!ParseSide(text.substr(0, text.size() - 1), 1000, fit.value)) return std::nullopt;
    return fit;
  }
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) {
    fit.kind = SizeFit::Kind::kWidth;
    if (!ParseSide(text, kSide, fit.width)) return std::nullopt;
    return fit;
  }
  if (x == 0) {
    fit.kind = SizeFit::Kind::kHeight;
    if (!ParseSide(text.substr(1), kSide, fit.height)) return std::nullopt;
    return fit;
  }
  fit.kind = SizeFit::Kind::kBox;
  if (!ParseSide(text.substr(0, x), kSide, fit.width) || !ParseSide(text.substr(x + 1), kSide, fit.height))
    return std::nullopt;
  return fit;
}

std::string SizeFitText(const SizeFit& fit) {
  switch (fit.kind) {
    case SizeFit::Kind::kBox: return std::to_string(fit.width) + "x" + std::to_string(fit.height);
    case SizeFit::Kind::kWidth: return std::to_string(fit.width);
    case SizeFit::Kind::kHeight: return "x" + std::to_string(fit.height);
    case SizeFit::Kind::kPercent: return std::to_string(fit.value) + "%";
    case SizeFit::Kind::kLongEdge: return Tr("a long edge of {1}", {std::to_string(fit.value)});
  }
  return "";
}

namespace {

// Cover: the size the picture is resampled to before its centre is cut to
// the box; the picture's own when it would grow and may not.
void CoverScaled(const SizeFit& fit, int64_t w0, int64_t h0, int64_t& w, int64_t& h) {
  if (int64_t{fit.width} * h0 >= int64_t{fit.height} * w0)
    w = fit.width, h = std::max<int64_t>(fit.height, Scaled(h0, fit.width, w0));
  else
    h = fit.height, w = std::max<int64_t>(fit.width, Scaled(w0, fit.height, h0));
  if (!fit.enlarge && (w > w0 || h > h0)) w = w0, h = h0;
}

// The centre w x h of a picture of at least 8 bits a pixel.
Bitmap CentreOf(const Bitmap& picture, int w, int h) {
  const Bitmap& from = picture;
  Bitmap out(w, h, static_cast<Bitmap::Format>(from.Bits()));
  if (from.Bits() <= 8) out.SetPalette(from.Palette());
  const int left = (from.Width() - w) / 2, top = (from.Height() - h) / 2;
  const size_t step = static_cast<size_t>(from.Bits() / 8);
  for (int y = 0; y < h; ++y)
    std::copy_n(from.Row(top + y) + static_cast<size_t>(left) * step, static_cast<size_t>(w) * step, out.Row(y));
  return out;
}

}  // namespace

void FittedSize(const SizeFit& fit, int64_t w0, int64_t h0, int64_t& w, int64_t& h) {
  w = w0, h = h0;
  if (w0 < 1 || h0 < 1) return;
  if (fit.kind == SizeFit::Kind::kBox && fit.mode == SizeFit::Mode::kFill) {
    w = fit.enlarge ? fit.width : std::min<int64_t>(fit.width, w0);
    h = fit.enlarge ? fit.height : std::min<int64_t>(fit.height, h0);
    return;
  }
  if (fit.kind == SizeFit::Kind::kBox && fit.mode == SizeFit::Mode::kCover) {
    CoverScaled(fit, w0, h0, w, h);
    w = std::min<int64_t>(w, fit.width), h = std::min<int64_t>(h, fit.height);
    return;
  }
  switch (fit.kind) {
    case SizeFit::Kind::kBox:
      // The side that binds takes the box's size exactly.
      if (int64_t{fit.width} * h0 <= int64_t{fit.height} * w0)
        w = fit.width, h = Scaled(h0, fit.width, w0);
      else
        h = fit.height, w = Scaled(w0, fit.height, h0);
      break;
    case SizeFit::Kind::kWidth: w = fit.width, h = Scaled(h0, fit.width, w0); break;
    case SizeFit::Kind::kHeight: h = fit.height, w = Scaled(w0, fit.height, h0); break;
    case SizeFit::Kind::kPercent: w = Scaled(w0, fit.value, 100), h = Scaled(h0, fit.value, 100); break;
    case SizeFit::Kind::kLongEdge:
      if (w0 >= h0)
        w = fit.value, h = Scaled(h0, fit.value, w0);
      else
        h = fit.value, w = Scaled(w0, fit.value, h0);
      break;
  }
  if (!fit.enlarge && (w > w0 || h > h0)) w = w0, h = h0;
}

void PrepareSize(Bitmap& bitmap, const SizeFit& fit, const DecodeLimits& limits) {
  int64_t w = 0, h = 0;
  FittedSize(fit, bitmap.Width(), bitmap.Height(), w, h);
  // Cover resamples to cover the box, then cuts.
  int64_t sw = w, sh = h;
  if (fit.kind == SizeFit::Kind::kBox && fit.mode == SizeFit::Mode::kCover)
    CoverScaled(fit, bitmap.Width(), bitmap.Height(), sw, sh);
  if (sw == bitmap.Width() && sh == bitmap.Height() && w == sw && h == sh) return;
  // Said as asked: the picture and the size it was given, then what that makes.
  const std::string asked = Tr("{1} x {2} pixels sized to {3}", {std::to_string(bitmap.Width()),
                                                                   std::to_string(bitmap.Height()), SizeFitText(fit)});
  CheckImageSize(limits, sw, sh, asked.c_str());
  if (sw != bitmap.Width() || sh != bitmap.Height())
    bitmap = ResampleBitmap(bitmap, static_cast<int>(sw), static_cast<int>(sh));
  if (w != sw || h != sh) {
    if (bitmap.Bits() < 8) bitmap = bitmap.To24Bit();
    bitmap = CentreOf(bitmap, static_cast<int>(w), static_cast<int>(h));
  }
}

void GreyLevel(Bitmap& bitmap) {
  if (bitmap.PixelFormat() != Bitmap::Format::k24Bit) bitmap = bitmap.To24Bit();
  // Each channel's product with its weight as a long double, from a table;
  // summed in the formula's order and rounded half to even, as nearbyintl
  // does in the default mode: the same grey as working each pixel out in
  // full, which took a tenth of a microsecond a pixel.
  struct Products {
    long double red[256], green[256], blue[256];
  };
  static const Products products = [] {
    Products p;
    for (int v = 0; v < 256; ++v) p.red[v] = v * 0.289L, p.green[v] = v * 0.586L, p.blue[v] = v * 0.114L;
    return p;
  }();
  for (int y = 0; y < bitmap.Height(); ++y) {
    uint8_t* d = bitmap.Row(y);
    for (int x = 0; x < bitmap.Width(); ++x, d += 3) {
      const long double g = products.red[d[2]] + products.green[d[1]] + products.blue[d[0]];
      // g is at least 0 and below 256: its whole part is exact, and so is
      // what is left of it.
      const int whole = static_cast<int>(g);
      const long double rest = g - whole;
      const int r = std::min(255, whole + (rest > 0.5L || (rest == 0.5L && (whole & 1))));
      d[0] = d[1] = d[2] = static_cast<uint8_t>(r);
    }
  }
  // Grey needs no table: a 24-bit picture that carried one drops it.
  bitmap.SetPalette({});
}

void PreparePixelColor(const Bitmap& bitmap, DibImage& image, int pixel_color_index) {
  DibImage capture;
  switch (pixel_color_index) {
    case 0:
      capture.Assign(bitmap);
      capture.SetPixelFormat(PixelFormat::k24Bit);
      break;
    case 1:
      capture.Assign(bitmap);
      capture.SetPixelFormat(PixelFormat::k8Bit);
      break;
    case 2: {
      Bitmap grey = bitmap.To24Bit();
      GreyLevel(grey);
      capture.Assign(std::move(grey));
      break;
    }
    default:
      capture.Assign(bitmap);
      break;
  }
  image.Assign(capture);
}

void PreparePixelColor(Bitmap&& bitmap, DibImage& image, int pixel_color_index) {
  DibImage capture;
  if (pixel_color_index == 2) GreyLevel(bitmap);  // in place
  capture.Assign(std::move(bitmap));
  if (pixel_color_index == 0) capture.SetPixelFormat(PixelFormat::k24Bit);
  if (pixel_color_index == 1) capture.SetPixelFormat(PixelFormat::k8Bit);
  image.Assign(capture);
}

}  // namespace velmora
