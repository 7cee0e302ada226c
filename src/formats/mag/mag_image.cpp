#include "formats/mag/mag_image.h"
#include "formats/output_format.h"
#include "base/messages.h"

#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>

#include "image/byte_order.h"
#include "image/limits.h"
#include "image/palettes.h"

namespace velmora {

MagData::MagData() {
  file_header.fill(0x20);
  std::memcpy(file_header.data(), "MAKI02  ", 8);
  std::memcpy(file_header.data() + 8, "orvP", 4);
}

MagImage::MagImage() : data_(std::make_shared<MagData>()) {}

void MagImage::LoadFromStream(std::istream& in) {
  LoadFromBytes(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

void MagImage::LoadFromBytes(std::vector<uint8_t> bytes, const DecodeLimits& limits) {
  data_ = std::make_shared<MagData>();
  bitmap_ = Bitmap(8, 1, Bitmap::Format::k4Bit);
  data_->stream = std::move(bytes);
  try {
    Parse();
    Decode(limits);
  } catch (...) {
    // A refused file leaves the image reset.
    data_ = std::make_shared<MagData>();
    bitmap_ = Bitmap(8, 1, Bitmap::Format::k4Bit);
    throw;
  }
  modified_ = false;
}

void MagImage::Parse() {
  const std::vector<uint8_t>& s = data_->stream;
  if (s.size() < 32 || std::memcmp(s.data(), "MAKI02  ", 8) != 0) throw MagError(Tr("is not MAG."));
  std::memcpy(data_->file_header.data(), s.data(), 32);
  size_t eof = 32;
  while (eof < s.size() && s[eof] != 0x1A) ++eof;
  if (eof >= s.size()) throw MagError(Tr("the comment has no end mark"));
  Comment.assign(s.begin() + 32, s.begin() + static_cast<std::ptrdiff_t>(eof));
  if (s.size() - (eof + 1) < 32) throw MagError(Tr("the header is cut short"));
  std::memcpy(data_->mag_header.data(), s.data() + eof + 1, 32);
  UserName.assign(s.begin() + 13, s.begin() + 31);
  const uint8_t* h = data_->mag_header.data();
  ScreenModeBit0 = h[3] & 1;
  OriginY = GetLe16(h + 6);
  const int left = GetLe16(h + 4), top = GetLe16(h + 6), right = GetLe16(h + 8), bottom = GetLe16(h + 10);
  Color256 = (h[3] & 0x80) != 0;
  const int g = Group();
  if (right < left || bottom < top) throw MagError(Tr("the image rectangle is empty"));
  data_->width = (right - right % g + g) - (left - left % g);
  data_->height = bottom - top + 1;
  OriginX = static_cast<uint16_t>(left - left % g);
}

void MagImage::Decode(const DecodeLimits& limits) {
  const std::vector<uint8_t>& s = data_->stream;
  // The palette and the data offsets count from the header's start, right
  // after the comment's end mark.
  size_t header_at = 32;
  while (s[header_at] != 0x1A) ++header_at;
  ++header_at;
  const uint8_t* h = data_->mag_header.data();
  const int width = data_->width, height = data_->height;
  // A bit of flag A stands for a flag byte, eight pixels at most: the rest
  // of the picture may repeat the flags of the line above.
  CheckClaimedSize(limits, width, height, s.size() - header_at, 64.0, N_("MAG image"));
  const int colors = Color256 ? 256 : 16;
  const size_t palette_at = header_at + 32;
  if (palette_at + static_cast<size_t>(colors) * 3 > s.size()) throw MagError(Tr("the palette is cut short"));
  Bitmap out(width, height, Color256 ? Bitmap::Format::k8Bit : Bitmap::Format::k4Bit);
  std::vector<RgbQuad> palette(static_cast<size_t>(colors));
  for (int i = 0; i < colors; ++i) {
    const uint8_t* e = s.data() + palette_at + 3 * static_cast<size_t>(i);
    palette[static_cast<size_t>(i)] = RgbQuad{e[2], e[0], e[1], 0};  // stored green, red, blue
  }
  out.SetPalette(palette);

  const size_t flag_a = header_at + GetLe32(h + 12);
  const size_t flag_b = header_at + GetLe32(h + 16);
  const size_t pixels = header_at + GetLe32(h + 24);
  if (flag_a > s.size() || flag_b > s.size() || pixels > s.size()) throw MagError(Tr("a data offset lies beyond the file"));
  // Each stream ends at the end of the file at the latest.
  size_t a = flag_a, b = flag_b, p = pixels;
  uint8_t bit = 0x80;
  const int flag_bytes = Color256 ? width / 4 : width / 8;
  std::vector<uint8_t> line(static_cast<size_t>(flag_bytes), 0);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = out.Row(y);
    for (int i = 0; i < flag_bytes; ++i) {
      if (a >= s.size()) throw MagError(Tr("flag A ends early"));
      if (s[a] & bit) {
        if (b >= s.size()) throw MagError(Tr("flag B ends early"));
        line[static_cast<size_t>(i)] ^= s[b++];
      }
      bit >>= 1;
      if (bit == 0) bit = 0x80, ++a;
      for (int half = 0; half < 2; ++half) {
        const int unit = 2 * i + half;
        const int flag = half == 0 ? line[static_cast<size_t>(i)] >> 4 : line[static_cast<size_t>(i)] & 15;
        uint8_t* dst = row + 2 * unit;
        if (flag == 0) {
          if (p + 2 > s.size()) throw MagError(Tr("the pixel data ends early"));
          dst[0] = s[p], dst[1] = s[p + 1];
          p += 2;
        } else {
          const int sy = y - kMagCopyDy[flag], su = unit - kMagCopyDx[flag];
          if (sy < 0 || su < 0)
            throw MagError(Tr("flag {1} at line {2}, unit {3} copies from outside the image",
                              {std::to_string(flag), std::to_string(y), std::to_string(unit)}));
          const uint8_t* src = out.Row(sy) + 2 * su;
          dst[0] = src[0], dst[1] = src[1];
        }
      }
    }
  }
  bitmap_ = std::move(out);
}

void MagImage::Assign(const MagImage& other) {
  if (&other == this) return;
  data_ = other.data_;
  UserName = other.UserName;
  Comment = other.Comment;
  Color256 = other.Color256;
  ScreenModeBit0 = other.ScreenModeBit0;
  OriginY = other.OriginY;
  OriginX = other.OriginX;
  bitmap_ = other.bitmap_;
  modified_ = true;
}

void MagImage::Assign(const DibImage& image) {
  // A full-colour picture is mapped from its own rows, without a copy.
  if (const ImageRows rows(image); rows.Bits() == 24) {
    Adopt(MapToPalette(rows, HalftonePalette256(), Bitmap::Format::k8Bit));
    return;
  }
  Bitmap b;
  image.AssignTo(b);
  Assign(b);
}

void MagImage::Assign(const Bitmap& picture) {
  switch (picture.PixelFormat()) {
    case Bitmap::Format::k1Bit:
      Adopt(MapToPalette(picture, SystemPalette16(), Bitmap::Format::k4Bit));
      break;
    case Bitmap::Format::k4Bit:
    case Bitmap::Format::k8Bit:
      Adopt(picture);
      break;
    default:
      Adopt(MapToPalette(picture, HalftonePalette256(), Bitmap::Format::k8Bit));
      break;
  }
}

void MagImage::Adopt(Bitmap b) {
  data_ = std::make_shared<MagData>();
  UserName = ">?\?<";
  Comment = "orv's TMAGImage Ver 1.01";
  ScreenModeBit0 = false;
  OriginX = OriginY = 0;
  Color256 = b.PixelFormat() == Bitmap::Format::k8Bit;
  const int g = Group();
  if (b.Width() % g != 0) {
    // Added columns are white: the palette's nearest entry to white.
    const int padded = (b.Width() + g - 1) / g * g;
    Bitmap wide(padded, b.Height(), b.PixelFormat());
    wide.SetPalette(b.Palette());
    int white = 0, best = -1;
    for (size_t i = 0; i < b.Palette().size(); ++i) {
      const RgbQuad q = b.Palette()[i];
      const int score = q.red + q.green + q.blue;
      if (score > best) best = score, white = static_cast<int>(i);
    }
    for (int y = 0; y < b.Height(); ++y)
      for (int x = 0; x < padded; ++x) wide.SetIndex(x, y, x < b.Width() ? b.GetIndex(x, y) : white);
    b = std::move(wide);
  }
  bitmap_ = std::move(b);
  modified_ = true;
}

void MagImage::AssignTo(Bitmap& target) const {
  if (!bitmap_) throw MagOperationError(Tr("not have DIB"));
  target = *bitmap_;
}

int MagImage::Width() const { return bitmap_ ? bitmap_->Width() : data_->width; }
int MagImage::Height() const { return bitmap_ ? bitmap_->Height() : data_->height; }

void MagImage::SetWidth(int width) {
  const int g = Group();
  const int rounded = (width + g - 1) / g * g;
  if (rounded + OriginX > 65535) throw MagOperationError(Tr("range over"));
  Bitmap b(rounded, bitmap_ ? bitmap_->Height() : 1, Color256 ? Bitmap::Format::k8Bit : Bitmap::Format::k4Bit);
  if (bitmap_) b.SetPalette(bitmap_->Palette());
  bitmap_ = std::move(b);
  modified_ = true;
}

void MagImage::SetHeight(int height) {
  if (height + OriginY > 65535) throw MagOperationError(Tr("range over"));
  Bitmap b(bitmap_ ? bitmap_->Width() : 8, height, Color256 ? Bitmap::Format::k8Bit : Bitmap::Format::k4Bit);
  if (bitmap_) b.SetPalette(bitmap_->Palette());
  bitmap_ = std::move(b);
  modified_ = true;
}

bool MagImage::Empty() const {
  if (!data_->stream.empty()) return false;
  return !bitmap_ || bitmap_->Empty();
}

const Bitmap& MagImage::Picture() {
  if (!bitmap_) bitmap_ = Bitmap(8, 1, Bitmap::Format::k4Bit);
  return *bitmap_;
}

void MagImage::SaveToStream(std::ostream& out) {
  if (data_->stream.empty() || modified_) Encode();
  out.write(reinterpret_cast<const char*>(data_->stream.data()), static_cast<std::streamsize>(data_->stream.size()));
}

namespace {

// The three streams of a MAG picture: flag A (a bit per flag byte: does it
// change from the line above), flag B (the changed flag bytes, XORed) and
// the pixel units no flag could copy.
struct MagStreams {
  std::vector<uint8_t> flag_a, flag_b, pixels;
};

// The copy flag for one 2-byte unit: the flag above when it still copies
// the same value, else the first of the 15 directions that does, else 0
// (the unit goes to the pixel stream).
int ChooseFlag(const Bitmap& b, int y, int unit, int above) {
  auto unit_at = [&](int yy, int u) { return GetLe16(b.Row(yy) + 2 * u); };
  const uint16_t value = unit_at(y, unit);
  auto qualifies = [&](int flag) {
    const int sy = y - kMagCopyDy[flag], su = unit - kMagCopyDx[flag];
    return sy >= 0 && su >= 0 && unit_at(sy, su) == value;
  };
  if (above != 0 && qualifies(above)) return above;
  for (int flag = 1; flag <= 15; ++flag)
    if (qualifies(flag)) return flag;
  return 0;
}

MagStreams EncodeStreams(const Bitmap& b, int flag_bytes, int64_t flag_a_size) {
  MagStreams streams;
  streams.flag_a.assign(static_cast<size_t>(flag_a_size), 0);
  std::vector<uint8_t> previous(static_cast<size_t>(flag_bytes), 0), current(static_cast<size_t>(flag_bytes), 0);
  size_t a = 0;
  uint8_t bit = 0x80;
  for (int y = 0; y < b.Height(); ++y) {
    for (int i = 0; i < flag_bytes; ++i) {
      const uint8_t above = previous[static_cast<size_t>(i)];
      int flags[2];
      for (int half = 0; half < 2; ++half) {
        const int unit = 2 * i + half;
        flags[half] = ChooseFlag(b, y, unit, half == 0 ? above >> 4 : above & 15);
        if (flags[half] == 0) {
          const uint8_t* src = b.Row(y) + 2 * unit;
          streams.pixels.push_back(src[0]);
          streams.pixels.push_back(src[1]);
        }
      }
      const uint8_t byte = static_cast<uint8_t>(flags[0] * 16 + flags[1]);
      current[static_cast<size_t>(i)] = byte;
      if (const uint8_t x = byte ^ above; x != 0) {
        streams.flag_a[a] |= bit;
        streams.flag_b.push_back(x);
      }
      bit >>= 1;
      if (bit == 0) bit = 0x80, ++a;
    }
    previous.swap(current);
  }
  if (streams.flag_b.size() & 1) streams.flag_b.push_back(0);
  return streams;
}

}  // namespace

void MagImage::Encode() {
  if (!bitmap_) throw MagOperationError(Tr("not have DIB"));
  const Bitmap& b = *bitmap_;
  auto data = std::make_shared<MagData>();
  const int w = b.Width(), h = b.Height();
  const int flag_bytes = Color256 ? w / 4 : w / 8;
  const int64_t n = int64_t{flag_bytes} * h;
  int64_t flag_a_size = (n + 7) / 8;
  flag_a_size += flag_a_size & 1;
  const int colors = Color256 ? 256 : 16;
  for (size_t i = 0; i < UserName.size() && i < 18; ++i) data->file_header[13 + i] = static_cast<uint8_t>(UserName[i]);
  data->width = w;
  data->height = h;

  const MagStreams streams = EncodeStreams(b, flag_bytes, flag_a_size);
  uint8_t* hd = data->mag_header.data();
  std::memset(hd, 0, 32);
  PutLe16(hd + 4, OriginX);
  PutLe16(hd + 6, OriginY);
  PutLe16(hd + 8, static_cast<uint32_t>(w + OriginX - 1));
  PutLe16(hd + 10, static_cast<uint32_t>(h + OriginY - 1));
  hd[3] = static_cast<uint8_t>((Color256 ? 0x80 : 0) | (ScreenModeBit0 ? 1 : 0));
  const uint32_t flag_a_offset = 32 + 3 * static_cast<uint32_t>(colors);
  PutLe32(hd + 12, flag_a_offset);
  PutLe32(hd + 16, flag_a_offset + static_cast<uint32_t>(flag_a_size));
  PutLe32(hd + 20, static_cast<uint32_t>(streams.flag_b.size()));
  PutLe32(hd + 24, flag_a_offset + static_cast<uint32_t>(flag_a_size + streams.flag_b.size()));
  PutLe32(hd + 28, static_cast<uint32_t>(streams.pixels.size()));

  std::vector<uint8_t>& s = data->stream;
  s.insert(s.end(), data->file_header.begin(), data->file_header.end());
  if (Comment.size() % 2 == 0) Comment += ' ';
  s.insert(s.end(), Comment.begin(), Comment.end());
  s.push_back(0x1A);
  s.insert(s.end(), data->mag_header.begin(), data->mag_header.end());
  const auto& palette = b.Palette();
  for (int i = 0; i < colors; ++i) {
    const RgbQuad q = static_cast<size_t>(i) < palette.size() ? palette[static_cast<size_t>(i)] : RgbQuad{};
    s.push_back(q.green);
    s.push_back(q.red);
    s.push_back(q.blue);
  }
  for (const auto* part : {&streams.flag_a, &streams.flag_b, &streams.pixels}) s.insert(s.end(), part->begin(), part->end());
  data_ = std::move(data);
  modified_ = false;
}

const OutputFormat& MagOutput() {
  static const OutputFormat format{"mag", {}, false, false, false,
                                   [](const DibImage& image, const EncodeOptions&, std::ostream& out) {
                                     MagImage mag;
                                     mag.Assign(image);
                                     mag.SaveToStream(out);
                                   }};
  return format;
}

}  // namespace velmora
