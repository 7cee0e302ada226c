#include "formats/mag/mag_image.h"
#include "formats/graphic.h"
#include "formats/output_format.h"
#include "base/messages.h"

#include <cstring>
#include <istream>
#include <iterator>
#include <ostream>

#include "base/string_sink.h"
#include "image/byte_order.h"
#include "image/image_rows.h"
#include "image/limits.h"
#include "image/palettes.h"

namespace velmora {
namespace {

// The palette's nearest entry to white: what added columns are.
int WhiteIndex(const std::vector<RgbQuad>& palette) {
  int white = 0, best = -1;
  for (size_t i = 0; i < palette.size(); ++i) {
    const int score = palette[i].red + palette[i].green + palette[i].blue;
    if (score > best) best = score, white = static_cast<int>(i);
  }
  return white;
}

}  // namespace

MagData::MagData() {
  file_header.fill(0x20);
  std::memcpy(file_header.data(), "MAKI02  ", 8);
  std::memcpy(file_header.data() + 8, "orvP", 4);
}

MagImage::MagImage() : data_(std::make_shared<MagData>()) {}

void MagImage::LoadFromStream(std::istream& in) {
  LoadFromBytes(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

void MagImage::LoadFromBytes(std::vector<uint8_t> bytes, const DecodeLimits& limits, const ConversionContext* context) {
  data_ = std::make_shared<MagData>();
  bitmap_ = Bitmap(8, 1, Bitmap::Format::k4Bit);
  data_->stream = std::move(bytes);
  try {
    Parse();
    Decode(limits, context);
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

void MagImage::Decode(const DecodeLimits& limits, const ConversionContext* context) {
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
  ClaimSize(limits, context, width, height, s.size() - header_at, 64.0, N_("MAG image"));
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
  UserName = kMagUserName;
  Comment = kMagComment;
  ScreenModeBit0 = false;
  OriginX = OriginY = 0;
  Color256 = b.PixelFormat() == Bitmap::Format::k8Bit;
  const int g = Group();
  if (b.Width() % g != 0) {
    // Added columns are white: the palette's nearest entry to white.
    const int padded = (b.Width() + g - 1) / g * g;
    Bitmap wide(padded, b.Height(), b.PixelFormat());
    wide.SetPalette(b.Palette());
    const int white = WhiteIndex(b.Palette());
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

// The picture a MAG is coded from: colour indexes as the file holds them (4
// or 8 bits, the width a whole number of groups), asked for top to bottom;
// the 16 rows above the one asked for stay readable, as far back as a flag
// copies from.
class MagRows {
 public:
  virtual ~MagRows() = default;
  virtual const uint8_t* Row(int y) = 0;
  // The two bytes of one unit of a row, asked for top to bottom again after
  // the rows: only the units no flag copies are read twice.
  virtual void Unit(int y, int unit, uint8_t* out) {
    const uint8_t* u = Row(y) + 2 * unit;
    out[0] = u[0], out[1] = u[1];
  }
};

class BitmapMagRows : public MagRows {
 public:
  explicit BitmapMagRows(const Bitmap& b) : b_(b) {}
  const uint8_t* Row(int y) override { return b_.Row(y); }

 private:
  const Bitmap& b_;
};

// A picture's rows mapped onto its MAG palette and padded with white as they
// are asked for, into a ring of 17: a big picture is coded without a second
// copy of itself. True colour goes onto the halftone palette, one bit onto
// the 16 system colours, 4 and 8 bits keep their own.
class MappedMagRows : public MagRows {
 public:
  explicit MappedMagRows(const ImageRows& rows)
      : rows_(rows),
        palette_(rows.Bits() == 24  ? HalftonePalette256()
                 : rows.Bits() == 1 ? SystemPalette16()
                                    : rows.Palette()),
        color256_(rows.Bits() == 24 || rows.Bits() == 8),
        width_((rows.Width() + Group() - 1) / Group() * Group()),
        stride_(color256_ ? width_ : width_ / 2),
        white_(WhiteIndex(palette_)),
        map_(palette_, int64_t{rows.Width()} * rows.Height()),
        ring_(static_cast<size_t>(stride_) * kRing) {
    if (rows.Bits() == 1)
      for (int i = 0; i < 2; ++i) {
        const RgbQuad q = i < static_cast<int>(rows.Palette().size()) ? rows.Palette()[static_cast<size_t>(i)] : RgbQuad{};
        bit_index_[i] = map_.IndexOf(q.red, q.green, q.blue);
      }
  }
  const std::vector<RgbQuad>& Palette() const { return palette_; }
  bool Color256() const { return color256_; }
  int Width() const { return width_; }
  const uint8_t* Row(int y) override {
    while (next_ <= y) Make(next_++);
    return Slot(y);
  }
  void Unit(int y, int unit, uint8_t* out) override {
    // Mapped again from the picture: the ring has moved on.
    const int per_unit = color256_ ? 2 : 4;
    uint8_t index[4];
    for (int k = 0; k < per_unit; ++k) index[k] = Index(rows_.Row(y), per_unit * unit + k);
    if (color256_)
      out[0] = index[0], out[1] = index[1];
    else
      out[0] = static_cast<uint8_t>(index[0] << 4 | index[1]), out[1] = static_cast<uint8_t>(index[2] << 4 | index[3]);
  }

 private:
  static constexpr int kRing = 17;
  int Group() const { return color256_ ? 4 : 8; }
  uint8_t* Slot(int y) { return ring_.data() + static_cast<size_t>(y % kRing) * stride_; }
  static void SetNibble(uint8_t* d, int x, int v) {
    d[x / 2] = static_cast<uint8_t>((x & 1) ? (d[x / 2] & 0xF0) | v : (d[x / 2] & 0x0F) | (v << 4));
  }
  // The index of one pixel of a source row; white beyond its width.
  uint8_t Index(const uint8_t* s, int x) {
    if (x >= rows_.Width()) return static_cast<uint8_t>(white_);
    switch (rows_.Bits()) {
      case 24:
        return map_.IndexOf(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
      case 1:
        return bit_index_[IndexAt(s, x, 1)];
      default:
        return static_cast<uint8_t>(IndexAt(s, x, rows_.Bits()));
    }
  }
  void Make(int y) {
    uint8_t* d = Slot(y);
    const uint8_t* s = rows_.Row(y);
    const int w = rows_.Width();
    switch (rows_.Bits()) {
      case 24:
        for (int x = 0; x < w; ++x, s += 3) d[x] = map_.IndexOf(s[2], s[1], s[0]);
        std::memset(d + w, white_, static_cast<size_t>(width_ - w));
        break;
      case 8:
        std::memcpy(d, s, static_cast<size_t>(w));
        std::memset(d + w, white_, static_cast<size_t>(width_ - w));
        break;
      default:  // 4 and 1 bit, a nibble at a time
        for (int x = 0; x < width_; ++x) SetNibble(d, x, Index(s, x));
        break;
    }
  }

  const ImageRows& rows_;
  const std::vector<RgbQuad>& palette_;
  const bool color256_;
  const int width_, stride_, white_;
  NearestColorMap map_;
  std::vector<uint8_t> ring_;
  int next_ = 0;
  uint8_t bit_index_[2] = {0, 0};
};

// The copy flag for one 2-byte unit: the flag above when it still copies
// the same value, else the first of the 15 directions that does, else 0
// (the unit goes to the pixel stream). rows[dy] is the row dy lines up.
int ChooseFlag(const uint8_t* const* rows, int y, int unit, int above) {
  const uint16_t value = GetLe16(rows[0] + 2 * unit);
  auto qualifies = [&](int flag) {
    const int dy = kMagCopyDy[flag], su = unit - kMagCopyDx[flag];
    return y - dy >= 0 && su >= 0 && GetLe16(rows[dy] + 2 * su) == value;
  };
  if (above != 0 && qualifies(above)) return above;
  for (int flag = 1; flag <= 15; ++flag)
    if (qualifies(flag)) return flag;
  return 0;
}

// Flag A (a bit per flag byte: does it change from the line above) and flag
// B (the changed flag bytes, XORed); returns how many units no flag could
// copy, the pixel stream's length in units.
uint64_t CodeFlags(MagRows& rows, int flag_bytes, int height, std::vector<uint8_t>& flag_a, std::vector<uint8_t>& flag_b) {
  // Reserved, not touched: a picture that changes little uses little of it.
  flag_b.reserve(static_cast<size_t>(flag_bytes) * static_cast<size_t>(height) + 1);
  std::vector<uint8_t> previous(static_cast<size_t>(flag_bytes), 0), current(static_cast<size_t>(flag_bytes), 0);
  uint64_t literals = 0;
  size_t a = 0;
  uint8_t bit = 0x80;
  for (int y = 0; y < height; ++y) {
    const uint8_t* at[17] = {};
    at[0] = rows.Row(y);
    for (int dy : {1, 2, 4, 8, 16})
      if (y >= dy) at[dy] = rows.Row(y - dy);
    for (int i = 0; i < flag_bytes; ++i) {
      const uint8_t above = previous[static_cast<size_t>(i)];
      const int high = ChooseFlag(at, y, 2 * i, above >> 4);
      const int low = ChooseFlag(at, y, 2 * i + 1, above & 15);
      literals += (high == 0) + (low == 0);
      const uint8_t byte = static_cast<uint8_t>(high * 16 + low);
      current[static_cast<size_t>(i)] = byte;
      if (const uint8_t x = byte ^ above; x != 0) {
        flag_a[a] |= bit;
        flag_b.push_back(x);
      }
      bit >>= 1;
      if (bit == 0) bit = 0x80, ++a;
    }
    previous.swap(current);
  }
  if (flag_b.size() & 1) flag_b.push_back(0);
  return literals;
}

// The pixel stream: the units whose flag, replayed from flag A and B, is 0.
void WritePixelStream(MagRows& rows, int flag_bytes, int height, const std::vector<uint8_t>& flag_a,
                      const std::vector<uint8_t>& flag_b, std::ostream& out) {
  std::vector<uint8_t> line(static_cast<size_t>(flag_bytes), 0);
  std::vector<uint8_t> buffer;
  buffer.reserve(size_t{1} << 16);
  size_t a = 0, b = 0;
  uint8_t bit = 0x80;
  for (int y = 0; y < height; ++y) {
    for (int i = 0; i < flag_bytes; ++i) {
      if (flag_a[a] & bit) line[static_cast<size_t>(i)] ^= flag_b[b++];
      bit >>= 1;
      if (bit == 0) bit = 0x80, ++a;
      const uint8_t flags = line[static_cast<size_t>(i)];
      for (int half = 0; half < 2; ++half)
        if ((half == 0 ? flags >> 4 : flags & 15) == 0) {
          buffer.resize(buffer.size() + 2);
          rows.Unit(y, 2 * i + half, buffer.data() + buffer.size() - 2);
        }
    }
    if (buffer.size() >= (size_t{1} << 16) - 4 * static_cast<size_t>(flag_bytes) || y + 1 == height) {
      out.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
      buffer.clear();
    }
  }
}

// What a MAG file says beside its pixels.
struct MagFields {
  std::string user_name;
  std::string comment;  // odd length
  bool color256 = false;
  bool screen_mode_bit0 = false;
  uint16_t origin_x = 0, origin_y = 0;
  int width = 0, height = 0;  // width a whole number of groups
  const std::vector<RgbQuad>* palette = nullptr;
};

// The whole file; its headers also go to data.
void WriteMag(MagRows& rows, const MagFields& f, MagData& data, std::ostream& out) {
  const int w = f.width, h = f.height;
  const int flag_bytes = f.color256 ? w / 4 : w / 8;
  const int64_t n = int64_t{flag_bytes} * h;
  int64_t flag_a_size = (n + 7) / 8;
  flag_a_size += flag_a_size & 1;
  const int colors = f.color256 ? 256 : 16;
  for (size_t i = 0; i < f.user_name.size() && i < 18; ++i)
    data.file_header[13 + i] = static_cast<uint8_t>(f.user_name[i]);
  data.width = w;
  data.height = h;

  std::vector<uint8_t> flag_a(static_cast<size_t>(flag_a_size), 0), flag_b;
  const uint64_t pixel_bytes = 2 * CodeFlags(rows, flag_bytes, h, flag_a, flag_b);
  uint8_t* hd = data.mag_header.data();
  std::memset(hd, 0, 32);
  PutLe16(hd + 4, f.origin_x);
  PutLe16(hd + 6, f.origin_y);
  PutLe16(hd + 8, static_cast<uint32_t>(w + f.origin_x - 1));
  PutLe16(hd + 10, static_cast<uint32_t>(h + f.origin_y - 1));
  hd[3] = static_cast<uint8_t>((f.color256 ? 0x80 : 0) | (f.screen_mode_bit0 ? 1 : 0));
  const uint32_t flag_a_offset = 32 + 3 * static_cast<uint32_t>(colors);
  PutLe32(hd + 12, flag_a_offset);
  PutLe32(hd + 16, flag_a_offset + static_cast<uint32_t>(flag_a_size));
  PutLe32(hd + 20, static_cast<uint32_t>(flag_b.size()));
  PutLe32(hd + 24, flag_a_offset + static_cast<uint32_t>(flag_a_size + flag_b.size()));
  PutLe32(hd + 28, static_cast<uint32_t>(pixel_bytes));

  auto put = [&out](const auto& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  put(data.file_header);
  put(f.comment);
  out.put(0x1A);
  put(data.mag_header);
  std::vector<uint8_t> table;
  for (int i = 0; i < colors; ++i) {
    const RgbQuad q = static_cast<size_t>(i) < f.palette->size() ? (*f.palette)[static_cast<size_t>(i)] : RgbQuad{};
    table.insert(table.end(), {q.green, q.red, q.blue});
  }
  put(table);
  put(flag_a);
  put(flag_b);
  WritePixelStream(rows, flag_bytes, h, flag_a, flag_b, out);
}

}  // namespace

void MagImage::Encode() {
  if (!bitmap_) throw MagOperationError(Tr("not have DIB"));
  if (Comment.size() % 2 == 0) Comment += ' ';
  BitmapMagRows rows(*bitmap_);
  const MagFields fields{UserName, Comment, Color256, ScreenModeBit0, OriginX, OriginY,
                         bitmap_->Width(), bitmap_->Height(), &bitmap_->Palette()};
  auto data = std::make_shared<MagData>();
  StringSink out;
  WriteMag(rows, fields, *data, out);
  const std::string bytes = out.Take();
  data->stream.assign(bytes.begin(), bytes.end());
  data_ = std::move(data);
  modified_ = false;
}

void WriteMagPicture(const DibImage& image, std::ostream& out) {
  const ImageRows source(image);
  MappedMagRows rows(source);
  MagData data;
  std::string comment = kMagComment;
  if (comment.size() % 2 == 0) comment += ' ';
  const MagFields fields{kMagUserName, comment, rows.Color256(), false, 0, 0, rows.Width(), source.Height(), &rows.Palette()};
  WriteMag(rows, fields, data, out);
}

const OutputFormat& MagOutput() {
  static const OutputFormat format{
      .extension = "mag",
      .name = "MAG",
      .encode = [](const DibImage& image, const EncodeOptions&, std::ostream& out) { WriteMagPicture(image, out); },
      // A ring of the last 17 rows' flags and units.
      .memory = [](int64_t width, int64_t, int, const EncodeOptions&) -> uint64_t {
        return kEncoderBuffers + static_cast<uint64_t>(width) * 64;
      },
  };
  return format;
}

}  // namespace velmora
