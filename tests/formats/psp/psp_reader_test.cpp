// Paint Shop Pro input, built in code: no encoder or other decoder is at hand.
// A composite bank with a thumbnail before the composite; layered files of
// versions 3 and 4 flattened with opacity and transparency; the three
// compressions; refused and damaged files.
#include <gtest/gtest.h>
#include <zlib.h>

#include "formats/loader.h"
#include "magick_files.h"
#include "test_util.h"

namespace velmora {
namespace {

using test::ByteBuilder;
using test::Decode;

class Psp {
 public:
  explicit Psp(int major) : major_(major) {
    file_.Text("Paint Shop Pro Image File\n\x1a").PadTo(32).U16Le(major).U16Le(0);
  }
  // A block: its mark, id, (version 3: initial length,) length and contents.
  ByteBuilder Block(int id, const ByteBuilder& contents) const {
    ByteBuilder b;
    b.Text(std::string("~BK\0", 4)).U16Le(id);
    if (major_ <= 3) b.U32Le(static_cast<uint32_t>(contents.Size()));
    b.U32Le(static_cast<uint32_t>(contents.Size())).Raw(contents.bytes);
    return b;
  }
  // Version 4 chunks carry their length; version 3 ones do not.
  ByteBuilder Chunk(const ByteBuilder& fields) const {
    ByteBuilder b;
    if (major_ > 3) b.U32Le(static_cast<uint32_t>(fields.Size() + 4));
    return b.Raw(fields.bytes);
  }
  ByteBuilder Attributes(int w, int h, int compression, int depth, bool grey = false) const {
    ByteBuilder f;
    f.U32Le(w).U32Le(h).Zeros(8).U8(0).U16Le(compression).U16Le(depth).U16Le(1).U32Le(1u << std::min(depth, 24));
    f.U8(grey ? 1 : 0).U32Le(0).U32Le(0).U16Le(1);
    if (major_ > 3) f.U32Le(1);
    return Block(0, Chunk(f));
  }
  ByteBuilder Channel(int bitmap_type, int channel_type, const std::vector<uint8_t>& raw, int compression) const {
    std::vector<uint8_t> packed = raw;
    if (compression == 1) {
      packed.clear();
      size_t i = 0;
      while (i < raw.size()) {
        size_t run = 1;
        while (i + run < raw.size() && raw[i + run] == raw[i] && run < 127) ++run;
        if (run > 1) {
          packed.push_back(static_cast<uint8_t>(128 + run));
          packed.push_back(raw[i]);
        } else {
          packed.push_back(1);
          packed.push_back(raw[i]);
        }
        i += run;
      }
    } else if (compression == 2) {
      uLongf size = compressBound(raw.size());
      packed.resize(size);
      compress(packed.data(), &size, raw.data(), raw.size());
      packed.resize(size);
    }
    ByteBuilder f;
    f.U32Le(static_cast<uint32_t>(packed.size())).U32Le(static_cast<uint32_t>(raw.size())).U16Le(bitmap_type).U16Le(channel_type);
    ByteBuilder contents = Chunk(f);
    contents.Raw(packed);
    return Block(5, contents);
  }
  ByteBuilder Layer(int left, int top, int right, int bottom, int opacity, bool visible, const std::vector<ByteBuilder>& channels) const {
    ByteBuilder info;
    if (major_ <= 3) {
      info.Text("layer").PadTo(256);
    } else {
      info.U16Le(5).Text("layer");
    }
    info.U8(major_ <= 3 ? 0 : 1);  // raster
    info.U32Le(left).U32Le(top).U32Le(right).U32Le(bottom);  // image rectangle
    info.U32Le(left).U32Le(top).U32Le(right).U32Le(bottom);  // saved rectangle
    info.U8(opacity).U8(0).U8(visible ? 1 : 0);
    info.Zeros(1 + 1 + 32 + 3 + 2 + 40);
    ByteBuilder counts;
    counts.U16Le(1).U16Le(static_cast<uint32_t>(channels.size()));
    ByteBuilder contents = Chunk(info);
    if (major_ <= 3) {
      contents.Raw(counts.bytes);
    } else {
      contents.Raw(Chunk(counts).bytes);
    }
    for (const auto& c : channels) contents.Raw(c.bytes);
    return Block(4, contents);
  }
  Psp& Add(const ByteBuilder& block) {
    file_.Raw(block.bytes);
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return file_.bytes; }

 private:
  int major_;
  ByteBuilder file_;
};

std::vector<uint8_t> Plane(int w, int h, const std::function<uint8_t(int, int)>& f) {
  std::vector<uint8_t> v;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v.push_back(f(x, y));
  return v;
}

TEST(PspReaderTest, TheCompositeIsReadAndTheThumbnailSkipped) {
  test::TempDir dir;
  Loader loader;
  Psp psp(6);
  const int w = 9, h = 5;
  psp.Add(psp.Attributes(w, h, 1, 24));
  ByteBuilder bank = psp.Chunk(ByteBuilder().U32Le(2));
  auto attributes = [&](int type) {
    ByteBuilder f;
    f.U32Le(w).U32Le(h).U16Le(24).U16Le(1).U16Le(1).U32Le(1u << 24).U16Le(type);
    return psp.Block(17, psp.Chunk(f));
  };
  bank.Raw(attributes(1).bytes).Raw(psp.Block(18, ByteBuilder().Text("jpeg thumbnail")).bytes);
  ByteBuilder composite = psp.Chunk(ByteBuilder().U16Le(1).U16Le(3));
  composite.Raw(psp.Channel(0, 1, Plane(w, h, [](int x, int) { return uint8_t(x * 20); }), 1).bytes);
  composite.Raw(psp.Channel(0, 2, Plane(w, h, [](int, int y) { return uint8_t(y * 50); }), 1).bytes);
  composite.Raw(psp.Channel(0, 3, Plane(w, h, [](int, int) { return uint8_t(7); }), 1).bytes);
  bank.Raw(attributes(0).bytes).Raw(psp.Block(9, composite).bytes);
  psp.Add(psp.Block(16, bank));
  test::WriteFile(dir / "a.psp", psp.Bytes());
  const auto picture = Decode(loader, dir / "a.psp");
  ASSERT_EQ(picture.width, w);
  EXPECT_EQ(test::MaxDifference(picture, test::MakeRgb(w, h, [](int x, int y) { return uint32_t(x * 20) << 16 | uint32_t(y * 50) << 8 | 7; })), 0);
}

TEST(PspReaderTest, LayersAreFlattenedWithOpacityAndTransparency) {
  test::TempDir dir;
  Loader loader;
  for (int major : {3, 4}) {
    for (int compression : {0, 1, 2}) {
      Psp psp(major);
      psp.Add(psp.Attributes(4, 2, compression, 24));
      auto solid = [](uint8_t v) { return [v](int, int) { return v; }; };
      // The background: opaque blue over the whole picture.
      ByteBuilder background = psp.Layer(0, 0, 4, 2, 255, true,
                                         {psp.Channel(0, 1, Plane(4, 2, solid(0)), compression),
                                          psp.Channel(0, 2, Plane(4, 2, solid(0)), compression),
                                          psp.Channel(0, 3, Plane(4, 2, solid(255)), compression)});
      // Red over the right half at half opacity, its mask clear on the top row.
      ByteBuilder red = psp.Layer(2, 0, 4, 2, 128, true,
                                  {psp.Channel(0, 1, Plane(2, 2, solid(255)), compression),
                                   psp.Channel(0, 2, Plane(2, 2, solid(0)), compression),
                                   psp.Channel(0, 3, Plane(2, 2, solid(0)), compression),
                                   psp.Channel(1, 0, Plane(2, 2, [](int, int y) { return uint8_t(y ? 255 : 0); }), compression)});
      // A hidden green layer over everything.
      ByteBuilder hidden = psp.Layer(0, 0, 4, 2, 255, false,
                                     {psp.Channel(0, 1, Plane(4, 2, solid(0)), compression),
                                      psp.Channel(0, 2, Plane(4, 2, solid(255)), compression),
                                      psp.Channel(0, 3, Plane(4, 2, solid(0)), compression)});
      ByteBuilder layers = background;
      layers.Raw(red.bytes).Raw(hidden.bytes);
      psp.Add(psp.Block(3, layers));
      test::WriteFile(dir / "l.psp", psp.Bytes());
      const auto picture = Decode(loader, dir / "l.psp");
      EXPECT_EQ(picture.At(0, 0), 0x0000FFu) << major << " " << compression;
      EXPECT_EQ(picture.At(3, 0), 0x0000FFu) << "the mask hides the top row";
      EXPECT_EQ(picture.At(3, 1), 0x80007Fu) << "half red over blue";
    }
  }
}

TEST(PspReaderTest, PalettedFilesAndRefusals) {
  test::TempDir dir;
  Loader loader;
  Psp psp(4);
  psp.Add(psp.Attributes(3, 1, 0, 8));
  psp.Add(psp.Block(2, psp.Chunk(ByteBuilder().U32Le(3)).Raw({0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0})));
  psp.Add(psp.Block(3, psp.Layer(0, 0, 3, 1, 255, true, {psp.Channel(0, 0, {2, 1, 0}, 0)})));
  test::WriteFile(dir / "p.psp", psp.Bytes());
  const auto picture = Decode(loader, dir / "p.psp");
  // Entries are stored blue, green, red, reserved; the pixels are 2, 1, 0.
  EXPECT_EQ(picture.At(0, 0), 0x0000FFu);
  EXPECT_EQ(picture.At(1, 0), 0x00FF00u);
  EXPECT_EQ(picture.At(2, 0), 0xFF0000u);

  Psp deep(4);
  deep.Add(deep.Attributes(3, 1, 0, 48));
  test::WriteFile(dir / "d.psp", deep.Bytes());
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "d.psp"); }), "PSP image error: 48-bit pictures are not supported");
  std::vector<uint8_t> cut = psp.Bytes();
  cut.resize(cut.size() - 2);
  test::WriteFile(dir / "c.psp", cut);
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "c.psp"); }), "PSP image error: the file ends before the picture does");
  Psp empty(4);
  empty.Add(empty.Attributes(3, 1, 0, 24)).Add(empty.Block(1, test::ByteBuilder().Text("creator: a test").Zeros(16)));
  test::WriteFile(dir / "e.psp", empty.Bytes());
  EXPECT_EQ(test::ErrorOf([&] { loader.LoadFile(dir / "e.psp"); }),
            "PSP image error: the file holds neither a composite picture nor a layer");
}

}  // namespace
}  // namespace velmora
