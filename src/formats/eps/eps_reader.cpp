// Encapsulated PostScript input (eps): the preview picture the file carries,
// since PostScript itself is not rendered here. A DOS EPS binary header
// points at a TIFF or a Windows metafile preview; a text EPS may hold an
// EPSI preview (hex lines between %%BeginPreview and %%EndPreview). A
// metafile preview is read when it holds a bitmap; a drawn (vector) one, and
// a file with no preview at all, are refused with a message that says so.
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("EPS image error");
constexpr uint8_t kBinaryMark[4] = {0xC5, 0xD0, 0xD3, 0xC6};

bool StartsWith(const uint8_t* data, size_t size, std::string_view text) {
  return size >= text.size() && std::memcmp(data, text.data(), text.size()) == 0;
}

bool RecognisesEps(const uint8_t* data, size_t size) {
  if (size >= 30 && std::memcmp(data, kBinaryMark, 4) == 0) return true;
  if (!StartsWith(data, size, "%!PS-Adobe-")) return false;
  const std::string_view head(reinterpret_cast<const char*>(data), std::min<size_t>(size, 80));
  const size_t line_end = head.find_first_of("\r\n");
  return head.substr(0, line_end).find("EPSF") != std::string_view::npos;
}

// The first bitmap a metafile draws: the DIB inside a StretchDIBits,
// DIBStretchBlt, DIBBitBlt or SetDIBitsToDevice record.
std::optional<std::vector<uint8_t>> MetafileBitmap(const uint8_t* data, size_t size) {
  ByteReader in(data, size, kWho);
  if (size >= 22 && data[0] == 0xD7 && data[1] == 0xCD && data[2] == 0xC6 && data[3] == 0x9A) in.Skip(22);
  in.Skip(2);
  const uint16_t header_words = in.U16Le();
  if (header_words != 9) in.Invalid(Tr("the metafile preview is damaged"));
  in.Skip(14);
  while (in.Remaining() >= 6) {
    const size_t start = in.Position();
    const uint64_t words = in.U32Le();
    const uint16_t function = in.U16Le();
    if (words < 3 || words * 2 > size - start) break;
    const size_t end = start + static_cast<size_t>(words) * 2;
    size_t dib = 0;
    switch (function) {
      case 0x0F43: dib = 28; break;  // StretchDIBits
      case 0x0B41: dib = 26; break;  // DIBStretchBlt
      case 0x0940: dib = 22; break;  // DIBBitBlt
      case 0x0D33: dib = 24; break;  // SetDIBitsToDevice
      case 0x0000: return std::nullopt;  // end of the metafile
      default: break;
    }
    // The stretch and blit records without a bitmap are shorter.
    if (dib && start + dib + 40 <= end) return std::vector<uint8_t>(data + start + dib, data + end);
    in.Seek(end);
  }
  return std::nullopt;
}

class EpsGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "EpsGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    ByteReader in(data, size, kWho);
    const uint8_t* postscript = data;
    size_t postscript_size = size;
    if (size >= 4 && std::memcmp(data, kBinaryMark, 4) == 0) {
      in.Skip(4);
      const uint32_t ps_start = in.U32Le(), ps_length = in.U32Le();
      const uint32_t wmf_start = in.U32Le(), wmf_length = in.U32Le();
      const uint32_t tiff_start = in.U32Le(), tiff_length = in.U32Le();
      auto section = [&](uint32_t start, uint32_t length) {
        if (uint64_t{start} + length > size) in.Truncated();
        return data + start;
      };
      if (tiff_length) {
        const uint8_t* tiff = section(tiff_start, tiff_length);
        auto preview = TiffClass().create();
        preview->SetLimits(Limits());
        preview->LoadFromMemory(tiff, tiff_length);
        preview->AssignTo(bitmap_);
        return;
      }
      if (wmf_length) {
        const uint8_t* wmf = section(wmf_start, wmf_length);
        std::optional<std::vector<uint8_t>> dib = MetafileBitmap(wmf, wmf_length);
        if (!dib)
          throw Error(ErrorKind::kUnsupported,
                            Tr("{1}: the preview is a drawn Windows metafile, which is not rendered", {Tr(kWho)}));
        auto preview = DibImageClass().create();
        preview->SetLimits(Limits());
        preview->LoadFromClipboardFormat(8, *dib);
        preview->AssignTo(bitmap_);
        return;
      }
      postscript = section(ps_start, ps_length);
      postscript_size = ps_length;
    } else if (!RecognisesEps(data, size)) {
      in.Invalid(Tr("not an Encapsulated PostScript file"));
    }
    if (ReadEpsi(postscript, postscript_size)) return;
    throw Error(ErrorKind::kUnsupported,
                      Tr("{1}: the file holds no preview picture, and PostScript itself is not rendered", {Tr(kWho)}));
  }

 private:
  // %%BeginPreview: width height depth lines, then lines of "%" and hex
  // digits; rows start on a byte, samples are as the image operator has
  // them (0 black).
  bool ReadEpsi(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const size_t begin = text.find("%%BeginPreview:");
    if (begin == std::string_view::npos) return false;
    ByteReader in(data, size, kWho);
    size_t pos = begin + 15;
    auto number = [&]() -> int64_t {
      while (pos < size && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
      int64_t value = 0;
      int digits = 0;
      while (pos < size && text[pos] >= '0' && text[pos] <= '9' && digits < 10) value = value * 10 + (text[pos++] - '0'), ++digits;
      if (digits == 0) in.Invalid(Tr("the preview's size is not readable"));
      return value;
    };
    const int64_t width = number(), height = number(), depth = number();
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8) in.Unsupported(Tr("a preview of depth {1}", {std::to_string(depth)}));
    // The data starts on the next line; the line count is not needed.
    const size_t line_end = text.find('\n', pos);
    pos = line_end == std::string_view::npos ? size : line_end + 1;
    const size_t end = text.find("%%EndPreview", pos);
    const size_t stop = end == std::string_view::npos ? size : end;
    // Two hex digits a byte.
    ClaimSize(width, height, (stop - pos) / 2, 8.0 / depth, kWho);
    const size_t row_bytes = (static_cast<size_t>(width) * depth + 7) / 8;
    std::vector<uint8_t> bytes;
    bytes.reserve(row_bytes * height);
    int high = -1;
    while (pos < stop && bytes.size() < row_bytes * height) {
      const char c = text[pos++];
      int v;
      if (c >= '0' && c <= '9') v = c - '0';
      else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
      else continue;  // "%", spaces and line ends
      if (high < 0) {
        high = v;
      } else {
        bytes.push_back(static_cast<uint8_t>(high << 4 | v));
        high = -1;
      }
    }
    if (bytes.size() < row_bytes * height) in.Truncated();
    const int w = static_cast<int>(width), h = static_cast<int>(height);
    Bitmap out(w, h, Bitmap::Format::k8Bit);
    const int levels = (1 << depth) - 1;
    out.SetPalette(GreyRamp(levels + 1));
    for (int y = 0; y < h; ++y) {
      const uint8_t* s = bytes.data() + row_bytes * y;
      for (int x = 0; x < w; ++x) {
        const size_t bit = static_cast<size_t>(x) * depth;
        out.Row(y)[x] = static_cast<uint8_t>((s[bit / 8] >> (8 - depth - bit % 8)) & levels);
      }
    }
    bitmap_ = std::move(out);
    return true;
  }
};

}  // namespace

const GraphicClass& EpsClass() {
  static const GraphicClass cls{"EpsGraphic", [] { return std::make_unique<EpsGraphic>(); }, RecognisesEps};
  return cls;
}

const InputFormat& EpsFormat() {
  static const InputFormat format{
      "EPS",
      {{Registration::kSideFormat, EpsClass, "eps", N_("Encapsulated Postscript images")}},
      nullptr,
      true,
      true,
      {"image/x-eps"}};
  return format;
}

}  // namespace velmora
