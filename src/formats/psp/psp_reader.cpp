// Paint Shop Pro input (psp): the composite picture a file keeps in its
// composite image bank; a file without one (version 3 and 4 files, or one
// saved without it) is flattened from its visible raster layers, normal blend
// and opacity, over white. Channels are uncompressed, run-length or LZ77
// (zlib) compressed; 24-bit colour, 8-bit grey, and 1, 4 and 8-bit palettes.
#include <zlib.h>

#include <cstring>
#include <optional>
#include <vector>

#include "formats/byte_reader.h"
#include "base/messages.h"
#include "formats/formats.h"
#include "formats/input_format.h"
#include "image/limits.h"

namespace velmora {
namespace {

constexpr const char* kWho = N_("PSP image error");
constexpr char kSignature[] = "Paint Shop Pro Image File\n\x1a";
constexpr size_t kSignatureSize = 32;

enum Block : uint16_t {
  kImageBlock = 0,
  kColourBlock = 2,
  kLayerStartBlock = 3,
  kLayerBlock = 4,
  kChannelBlock = 5,
  kCompositeImageBlock = 9,
  kCompositeBankBlock = 16,
  kCompositeAttributesBlock = 17,
};

enum Compression : uint16_t { kNone = 0, kRle = 1, kLz77 = 2, kJpeg = 3 };

bool RecognisesPsp(const uint8_t* data, size_t size) {
  return size >= kSignatureSize + 4 && std::memcmp(data, kSignature, sizeof kSignature - 1) == 0;
}

struct BlockHeader {
  uint16_t id;
  size_t start;  // of the block's contents
  size_t end;
};

struct Channel {
  uint16_t bitmap_type;  // 0 image, 1 transparency mask, 2 user mask, ...
  uint16_t channel_type;  // 0 the single channel of a paletted or grey bitmap, 1 red, 2 green, 3 blue
  size_t stride = 0;  // bytes from one row to the next: each channel pads its rows its own way
  std::vector<uint8_t> bytes;
};

struct Raster {
  int left = 0, top = 0, width = 0, height = 0;
  int opacity = 255;
  bool visible = true;
  std::vector<Channel> channels;
};

class PspFile {
 public:
  PspFile(const uint8_t* data, size_t size, const DecodeLimits& limits, const ConversionContext* context)
      : in_(data, size, kWho), limits_(limits), context_(context) {}

  Bitmap Decode() {
    if (!RecognisesPsp(in_.Data(), in_.Size())) in_.Invalid(Tr("not a Paint Shop Pro file"));
    in_.Seek(kSignatureSize);
    major_ = in_.U16Le();
    in_.Skip(2);
    if (major_ < 3) in_.Unsupported(Tr("Paint Shop Pro files before version 5 are not supported"));
    std::optional<Raster> composite;
    std::vector<Raster> layers;
    bool have_image = false;
    while (!in_.AtEnd()) {
      const BlockHeader block = NextBlock();
      switch (block.id) {
        case kImageBlock:
          ReadImageAttributes(block);
          have_image = true;
          break;
        case kColourBlock:
          palette_ = ReadPalette(block);
          break;
        case kLayerStartBlock:
          if (!have_image) in_.Invalid(Tr("the layers come before the image attributes"));
          layers = ReadLayers(block);
          break;
        case kCompositeBankBlock:
          if (!have_image) in_.Invalid(Tr("the composite comes before the image attributes"));
          composite = ReadCompositeBank(block);
          break;
        default:
          break;
      }
      in_.Seek(block.end);
    }
    if (!have_image) in_.Invalid(Tr("the file has no image attributes"));
    if (compression_ == kJpeg) in_.Unsupported(Tr("JPEG-compressed channels are not supported"));
    if (composite) return Render({*composite}, /*flatten=*/false);
    if (layers.empty()) in_.Invalid(Tr("the file holds neither a composite picture nor a layer"));
    return Render(layers, /*flatten=*/true);
  }

 private:
  BlockHeader NextBlock() {
    const uint8_t* mark = in_.Take(4);
    if (std::memcmp(mark, "~BK\0", 4) != 0) in_.Invalid(Tr("a block header is damaged"));
    BlockHeader block{};
    block.id = in_.U16Le();
    if (major_ <= 3) in_.Skip(4);  // initial data length
    const uint32_t length = in_.U32Le();
    block.start = in_.Position();
    if (length > in_.Remaining()) in_.Truncated();
    block.end = block.start + length;
    return block;
  }

  // Version 4 and later chunks start with their own length, which lets later
  // versions add fields: the reader jumps to the chunk's end.
  size_t ChunkEnd(size_t block_end) {
    if (major_ <= 3) return 0;
    const size_t start = in_.Position();
    const uint32_t length = in_.U32Le();
    if (length < 4 || start + length > block_end) in_.Invalid(Tr("a chunk is longer than its block"));
    return start + length;
  }

  void ReadImageAttributes(const BlockHeader& block) {
    const size_t end = ChunkEnd(block.end);
    width_ = in_.S32Le();
    height_ = in_.S32Le();
    in_.Skip(9);  // resolution and its unit
    compression_ = in_.U16Le();
    depth_ = in_.U16Le();
    in_.Skip(2);  // planes
    in_.Skip(4);  // colours
    grey_ = in_.U8() != 0;
    if (end) in_.Seek(end);
    if (compression_ > kJpeg) in_.Invalid(Tr("unknown compression {1}", {std::to_string(compression_)}));
    if (depth_ != 1 && depth_ != 4 && depth_ != 8 && depth_ != 24) {
      if (depth_ == 48) in_.Unsupported(Tr("48-bit pictures are not supported"));
      in_.Invalid(Tr("the depth {1} is not 1, 4, 8 or 24", {std::to_string(depth_)}));
    }
    // Run-length codes 127 bytes in two; zlib about a thousand in one.
    const double ratio = compression_ == kRle ? 63.0 : compression_ == kLz77 ? 1032.0 : 1.0;
    ClaimSize(limits_, context_, width_, height_, in_.Remaining(), ratio * 8.0 / depth_, kWho);
  }

  std::vector<RgbQuad> ReadPalette(const BlockHeader& block) {
    const size_t end = ChunkEnd(block.end);
    const uint32_t count = in_.U32Le();
    if (end) in_.Seek(end);
    if (count > 256) in_.Invalid(Tr("the palette has more than 256 colours"));
    std::vector<RgbQuad> palette(count);
    for (auto& entry : palette) {
      const uint8_t* p = in_.Take(4);
      entry = {p[0], p[1], p[2], 0};  // stored blue, green, red, reserved
    }
    return palette;
  }

  std::vector<Raster> ReadLayers(const BlockHeader& bank) {
    std::vector<Raster> layers;
    while (in_.Position() < bank.end) {
      const BlockHeader block = NextBlock();
      if (block.end > bank.end) in_.Invalid(Tr("a layer runs past its bank"));
      if (block.id == kLayerBlock) {
        Raster layer = ReadLayer(block);
        if (layer.width > 0 && layer.height > 0) layers.push_back(std::move(layer));
      }
      in_.Seek(block.end);
    }
    return layers;
  }

  Raster ReadLayer(const BlockHeader& block) {
    Raster layer;
    size_t end = ChunkEnd(block.end);
    if (major_ <= 3) {
      in_.Skip(256);  // name
    } else {
      in_.Skip(in_.U16Le());
    }
    const uint8_t type = in_.U8();
    in_.Skip(16);  // the layer's rectangle in the picture
    // 64 bits: any four coordinates subtract without overflow.
    const int64_t left = in_.S32Le(), top = in_.S32Le(), right = in_.S32Le(), bottom = in_.S32Le();
    layer.opacity = in_.U8();
    in_.Skip(1);  // blend mode: every mode is taken as normal
    layer.visible = (in_.U8() & 1) != 0;
    if (end) {
      in_.Seek(end);
      end = ChunkEnd(block.end);
    } else {
      in_.Skip(1 + 1 + 32 + 3 + 2 + 40);  // version 3's fixed fields up to the bitmap counts
    }
    // Version 3 layers are all raster; later ones say so (1 raster, 2
    // floating selection).
    const bool raster = major_ <= 3 ? true : (type == 1 || type == 2);
    in_.Skip(2);  // bitmaps
    const int channels = in_.U16Le();
    if (end) in_.Seek(end);
    if (!raster || right <= left || bottom <= top) return layer;  // nothing to draw
    if (left < 0 || top < 0 || right > width_ || bottom > height_) in_.Invalid(Tr("a layer lies outside the picture"));
    layer.left = static_cast<int>(left);
    layer.top = static_cast<int>(top);
    layer.width = static_cast<int>(right - left);
    layer.height = static_cast<int>(bottom - top);
    ReadChannels(layer, channels, block.end);
    return layer;
  }

  std::optional<Raster> ReadCompositeBank(const BlockHeader& bank) {
    const size_t end = ChunkEnd(bank.end);
    in_.Skip(4);  // composite count
    if (end) in_.Seek(end);
    bool composite_next = false;
    int width = 0, height = 0;
    while (in_.Position() < bank.end) {
      const BlockHeader block = NextBlock();
      if (block.end > bank.end) in_.Invalid(Tr("a composite runs past its bank"));
      if (block.id == kCompositeAttributesBlock) {
        const size_t attributes_end = ChunkEnd(block.end);
        width = in_.S32Le();
        height = in_.S32Le();
        in_.Skip(2 + 2 + 2 + 4);  // depth, compression, planes, colours: as the picture's
        composite_next = in_.U16Le() == 0;  // 0 the composite, 1 a thumbnail
        if (attributes_end) in_.Seek(attributes_end);
      } else if (block.id == kCompositeImageBlock && composite_next) {
        if (width != width_ || height != height_) in_.Invalid(Tr("the composite's size is not the picture's"));
        Raster raster;
        raster.width = width;
        raster.height = height;
        const size_t info_end = ChunkEnd(block.end);
        in_.Skip(2);
        const int channels = in_.U16Le();
        if (info_end) in_.Seek(info_end);
        ReadChannels(raster, channels, block.end);
        return raster;
      } else if (block.id == kColourBlock) {
        palette_ = ReadPalette(block);
      }
      in_.Seek(block.end);
    }
    return std::nullopt;
  }

  void ReadChannels(Raster& raster, int count, size_t limit) {
    for (int i = 0; i < count && in_.Position() < limit; ++i) {
      const BlockHeader block = NextBlock();
      if (block.end > limit) in_.Invalid(Tr("a channel runs past its layer"));
      if (block.id == kColourBlock) {
        palette_ = ReadPalette(block);
        --i;
        in_.Seek(block.end);
        continue;
      }
      if (block.id != kChannelBlock) in_.Invalid(Tr("a layer holds something other than its channels"));
      const size_t end = ChunkEnd(block.end);
      const uint32_t packed = in_.U32Le();
      const uint32_t length = in_.U32Le();
      Channel channel;
      channel.bitmap_type = in_.U16Le();
      channel.channel_type = in_.U16Le();
      if (end) in_.Seek(end);
      const size_t row = RowBytes(raster.width, channel.bitmap_type == 0 ? depth_ : 8);
      // Rows may be padded to four bytes, no more: any other length is a
      // channel of some other layer, and reading it with this layer's rows
      // would reach past its end.
      const size_t padded = (row + 3) / 4 * 4;
      const uint64_t height = static_cast<uint64_t>(raster.height);
      if (length < row * height || length > padded * height)
        in_.Invalid(Tr("a channel's length does not fit its layer"));
      if (in_.Position() > block.end || packed > block.end - in_.Position()) in_.Truncated();
      // What the packed bytes can expand to, before the room is made.
      const double expands = compression_ == kRle ? 64.0 : compression_ == kLz77 ? 1032.0 : 1.0;
      if (static_cast<double>(length) > static_cast<double>(packed) * expands) in_.Truncated();
      CheckAllocation(limits_, static_cast<int64_t>(length), kWho);
      channel.stride = length / raster.height;
      const uint8_t* data = in_.Take(packed);
      channel.bytes = Expand(data, packed, length);
      raster.channels.push_back(std::move(channel));
      in_.Seek(block.end);
    }
  }

  size_t RowBytes(int width, int bits) const {
    return bits == 24 ? size_t(width) : (size_t(width) * bits + 7) / 8;
  }

  std::vector<uint8_t> Expand(const uint8_t* data, size_t packed, size_t length) {
    std::vector<uint8_t> out(length);
    switch (compression_) {
      case kNone:
        if (packed < length) in_.Truncated();
        std::memcpy(out.data(), data, length);
        break;
      case kRle: {
        ByteReader run(data, packed, kWho);
        size_t x = 0;
        while (x < length) {
          const uint8_t code = run.U8();
          if (code > 128) {
            const size_t count = std::min<size_t>(code - 128, length - x);
            std::memset(&out[x], run.U8(), count);
            x += count;
          } else if (code > 0) {
            const uint8_t* p = run.Take(code);
            const size_t count = std::min<size_t>(code, length - x);
            std::memcpy(&out[x], p, count);
            x += count;
          }
        }
        break;
      }
      default: {
        uLongf size = length;
        const int status = uncompress(out.data(), &size, data, packed);
        if (status == Z_BUF_ERROR && size == length) break;  // more data than the channel needs
        if (status != Z_OK || size != length) {
          if (status == Z_DATA_ERROR) in_.Invalid(Tr("a channel's compressed data is damaged"));
          in_.Truncated();
        }
        break;
      }
    }
    return out;
  }

  Bitmap Render(const std::vector<Raster>& rasters, bool flatten) {
    const bool indexed = depth_ < 24;
    if (indexed && !grey_ && palette_.empty()) in_.Invalid(Tr("the paletted picture has no palette"));
    if (!flatten && indexed) {
      // A paletted composite stays paletted.
      const Raster& r = rasters.front();
      const Channel* index = Find(r, 0, 0);
      if (!index) in_.Invalid(Tr("the composite has no image channel"));
      Bitmap out(width_, height_, depth_ == 1 ? Bitmap::Format::k1Bit
                                 : depth_ == 4 ? Bitmap::Format::k4Bit
                                               : Bitmap::Format::k8Bit);
      out.SetPalette(Palette());
      const size_t used = RowBytes(width_, depth_);
      for (int y = 0; y < height_; ++y) std::memcpy(out.Row(y), index->bytes.data() + index->stride * y, used);
      return out;
    }
    Bitmap out(width_, height_, Bitmap::Format::k24Bit);
    std::memset(out.Data(), 255, static_cast<size_t>(out.Stride()) * height_);
    const std::vector<RgbQuad> palette = indexed ? Palette() : std::vector<RgbQuad>();
    for (const Raster& r : rasters) {
      if (flatten && !r.visible) continue;
      const Channel* red = indexed ? Find(r, 0, 0) : Find(r, 0, 1);
      const Channel* green = indexed ? red : Find(r, 0, 2);
      const Channel* blue = indexed ? red : Find(r, 0, 3);
      if (!red || !green || !blue) in_.Invalid(Tr("a layer lacks a colour channel"));
      const Channel* mask = Find(r, 1, 0);
      for (int y = 0; y < r.height; ++y) {
        uint8_t* d = out.Row(r.top + y) + size_t(r.left) * 3;
        for (int x = 0; x < r.width; ++x) {
          uint8_t c[3];  // blue, green, red
          if (indexed) {
            const uint8_t* s = red->bytes.data() + red->stride * y;
            int i = depth_ == 8 ? s[x] : depth_ == 4 ? (s[x / 2] >> ((x & 1) ? 0 : 4)) & 15 : (s[x / 8] >> (7 - x % 8)) & 1;
            if (i >= static_cast<int>(palette.size())) in_.Invalid(Tr("a pixel refers to a colour the palette does not have"));
            c[0] = palette[i].blue, c[1] = palette[i].green, c[2] = palette[i].red;
          } else {
            c[0] = blue->bytes[blue->stride * y + x];
            c[1] = green->bytes[green->stride * y + x];
            c[2] = red->bytes[red->stride * y + x];
          }
          int alpha = mask ? mask->bytes[mask->stride * y + x] : 255;
          if (flatten) alpha = alpha * r.opacity / 255;
          for (int k = 0; k < 3; ++k) d[x * 3 + k] = static_cast<uint8_t>((c[k] * alpha + d[x * 3 + k] * (255 - alpha) + 127) / 255);
        }
      }
    }
    return out;
  }

  std::vector<RgbQuad> Palette() const {
    if (!palette_.empty()) return palette_;
    return GreyRamp(1 << depth_);
  }

  static const Channel* Find(const Raster& r, uint16_t bitmap_type, uint16_t channel_type) {
    for (const Channel& c : r.channels)
      if (c.bitmap_type == bitmap_type && c.channel_type == channel_type) return &c;
    return nullptr;
  }

  ByteReader in_;
  const DecodeLimits& limits_;
  const ConversionContext* context_;
  int major_ = 0;
  int width_ = 0, height_ = 0;
  uint16_t compression_ = kNone;
  uint16_t depth_ = 24;
  bool grey_ = false;
  std::vector<RgbQuad> palette_;
};

class PspGraphic : public BitmapGraphic {
 public:
  std::string ClassName() const override { return "PspGraphic"; }

 protected:
  void OnLoad(const uint8_t* data, size_t size) override { bitmap_ = PspFile(data, size, Limits(), Context()).Decode(); }
};

}  // namespace

const GraphicClass& PspClass() {
  static const GraphicClass cls{"PspGraphic", [] { return std::make_unique<PspGraphic>(); }, RecognisesPsp};
  return cls;
}

const InputFormat& PspFormat() {
  static const InputFormat format{
      "Paint Shop Pro",
      {{Registration::kSideFormat, PspClass, "psp", N_("Paintshop Pro images")}},
      nullptr,
      true,
      true,
      {"image/x-paintshoppro"}};
  return format;
}

}  // namespace velmora
