// GIF input on giflib: the first frame with its palette, placed on the logical
// screen; transparent pixels become white.
#include <gif_lib.h>

#include <cstring>
#include <istream>
#include <iterator>
#include <memory>
#include <vector>

#include "image/limits.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"

namespace velmora {
namespace {

bool RecognisesGif(const uint8_t* data, size_t size) {
  return size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

struct Memory {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadMemory(GifFileType* gif, GifByteType* dst, int n) {
  auto* m = static_cast<Memory*>(gif->UserData);
  const size_t count = std::min<size_t>(static_cast<size_t>(n), m->size - m->pos);
  if (count == 0) return 0;
  std::memcpy(dst, m->data + m->pos, count);
  m->pos += count;
  return static_cast<int>(count);
}

// giflib has no text for some error codes (and 0 when a call failed without one).
std::string GifReason(int code) {
  const char* text = GifErrorString(code);
  return text ? WithLibraryText(Tr("the data cannot be read"), "giflib", text)
              : Tr("the data is damaged (giflib error {1})", {std::to_string(code)});
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

class GifGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "GifImage"; }
  // The "GIF Image" clipboard format holds a GIF file.
  void LoadFromClipboardFormat(uint32_t format, const std::vector<uint8_t>& data) override {
    if (format != 0xC000 || data.empty()) Graphic::LoadFromClipboardFormat(format, data);
    OnLoad(data.data(), data.size());
  }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override {
    Memory memory{data, size, 0};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&memory, ReadMemory, &error));
    if (!gif) throw Error(ErrorKind::kInvalidData, Tr("GIF image error: {1}", {GifReason(error)}));
    // An LZW code of at most 12 bits stands for at most 4096 pixels. The
    // screen is filled whether or not a frame covers it, so it too must be a
    // size the file could describe.
    constexpr double kPixelsPerByte = 4096.0 * 8 / 12;
    if (gif->SWidth > 0 && gif->SHeight > 0) ClaimSize(gif->SWidth, gif->SHeight, size, kPixelsPerByte, N_("GIF image"));
    // Only the first image is read, record by record, so that its size is
    // checked before its raster is allocated.
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    std::vector<uint8_t> raster;
    GifImageDesc desc{};
    auto fail = [&]() -> void { throw Error(ErrorKind::kInvalidData, Tr("GIF image error: {1}", {GifReason(gif->Error)})); };
    for (bool done = false; !done;) {
      GifRecordType type;
      if (DGifGetRecordType(gif.get(), &type) != GIF_OK) fail();
      if (type == TERMINATE_RECORD_TYPE) throw Error(ErrorKind::kInvalidData, Tr("GIF image error: {1}", {Tr("the file holds no image")}));
      if (type == EXTENSION_RECORD_TYPE) {
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) != GIF_OK) fail();
        if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) DGifExtensionToGCB(block[0], block + 1, &gcb);
        while (block) {
          if (DGifGetExtensionNext(gif.get(), &block) != GIF_OK) fail();
        }
        continue;
      }
      if (type != IMAGE_DESC_RECORD_TYPE) continue;
      if (DGifGetImageDesc(gif.get()) != GIF_OK) fail();
      desc = gif->Image;
      ClaimSize(desc.Width, desc.Height, memory.size - memory.pos, kPixelsPerByte, N_("GIF image"));
      raster.resize(static_cast<size_t>(desc.Width) * desc.Height);
      auto line = [&](int y) {
        if (DGifGetLine(gif.get(), raster.data() + static_cast<size_t>(y) * desc.Width, desc.Width) != GIF_OK) fail();
      };
      if (desc.Interlace) {
        static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
          for (int y = kStart[pass]; y < desc.Height; y += kStep[pass]) line(y);
      } else {
        for (int y = 0; y < desc.Height; ++y) line(y);
      }
      done = true;
    }
    const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
    if (!map) throw Error(ErrorKind::kInvalidData, Tr("GIF image error: {1}", {Tr("no colour table")}));
    int width = gif->SWidth, height = gif->SHeight;
    if (width <= 0 || height <= 0) width = desc.Width, height = desc.Height;

    std::vector<RgbQuad> palette(256);
    for (int i = 0; i < map->ColorCount && i < 256; ++i)
      palette[i] = RgbQuad{map->Colors[i].Blue, map->Colors[i].Green, map->Colors[i].Red, 0};
    const std::vector<RgbQuad> stored = palette;
    // Areas the frame does not cover show through as transparent: white.
    int fill = gif->SBackGroundColor;
    bool see_through = true;
    if (gcb.TransparentColor >= 0 && gcb.TransparentColor < 256) {
      palette[gcb.TransparentColor] = RgbQuad{255, 255, 255, 0};
      fill = gcb.TransparentColor;
    } else if (desc.Left != 0 || desc.Top != 0 || desc.Width != width || desc.Height != height) {
      fill = map->ColorCount < 256 ? map->ColorCount : fill;
      palette[fill] = RgbQuad{255, 255, 255, 0};
    } else {
      see_through = false;
    }
    const int colors = std::max(map->ColorCount, fill + 1);
    palette.resize(static_cast<size_t>(std::min(colors, 256)));
    Bitmap out(width, height, Bitmap::Format::k8Bit);
    for (int y = 0; y < height; ++y) std::memset(out.Row(y), fill, static_cast<size_t>(width));
    for (int y = 0; y < desc.Height; ++y) {
      const int ty = desc.Top + y;
      if (ty < 0 || ty >= height) continue;
      for (int x = 0; x < desc.Width; ++x) {
        const int tx = desc.Left + x;
        if (tx < 0 || tx >= width) continue;
        out.Row(ty)[tx] = raster[static_cast<size_t>(y) * desc.Width + x];
      }
    }
    out.SetPalette(palette);
    if (see_through && StartAlpha(width, height)) {
      for (int y = 0; y < height; ++y) {
        const uint8_t* s = out.Row(y);
        uint8_t* kept = AlphaRow(y);
        for (int x = 0; x < width; ++x, kept += 4) {
          const RgbQuad& c = stored[s[x]];
          const bool clear = s[x] == fill;
          kept[0] = clear ? 0 : c.blue, kept[1] = clear ? 0 : c.green, kept[2] = clear ? 0 : c.red;
          kept[3] = clear ? 0 : 255;
        }
      }
    }
    bitmap_ = std::move(out);
  }
};

}  // namespace

const GraphicClass& GifClass() {
  static const GraphicClass cls{"GifImage", [] { return std::make_unique<GifGraphic>(); }, nullptr};
  return cls;
}

const InputFormat& GifFormat() {
  static const InputFormat format{
      "GIF",
      {{Registration::kLate, GifClass, "GIF", N_("GIF Image")},
        {Registration::kClipboard, GifClass, "", "", "", 49152}},
      RecognisesGif,
      true,
      false,
      {"image/gif"}};
  return format;
}

}  // namespace velmora
