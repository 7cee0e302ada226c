#include "formats/gif/gif_image.h"
#include "image/image_rows.h"
#include "formats/output_format.h"
#include "base/messages.h"

#include "platform/platform.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ostream>

namespace velmora {
namespace {

void Put16(std::ostream& out, unsigned v) {
  const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
  out.write(b, 2);
}

void PutByte(std::ostream& out, unsigned v) { out.put(static_cast<char>(v & 0xFF)); }

// The table and its padding up to 2^(colour bits) with black.
void WriteTable(std::ostream& out, const GifColorMap& table) {
  const int n = table.Count();
  for (int i = 0; i < n; ++i) out.write(reinterpret_cast<const char*>(table[i].data()), 3);
  const int padded = table.ColorBits() ? 1 << table.ColorBits() : 0;
  for (int i = n; i < padded; ++i) out.write("\0\0\0", 3);
}

// LZW string table: open addressing over 8009 slots; a slot holds
// key * 4096 + code with key = prefix * 256 + pixel, all ones when empty.
class StringTable {
 public:
  static constexpr int kSlots = 8009;
  StringTable() { Reset(); }
  void Reset() { std::fill(std::begin(slots_), std::end(slots_), 0xFFFFFFFFu); }
  // The code of key, or -1; pos receives the slot where it is or would go.
  int Find(uint32_t key, int& pos) const {
    int h = static_cast<int>((key ^ (key >> 4)) % kSlots);
    while (true) {
      const uint32_t slot = slots_[h];
      if ((slot >> 12) == 0xFFFFFu) {
        pos = h;
        return -1;
      }
      if ((slot >> 12) == key) return static_cast<int>(slot & 0xFFF);
      h = h == 0 ? h - 1 : h - (kSlots - h);
      if (h < 0) h += kSlots;
    }
  }
  void Insert(int pos, uint32_t key, int code) { slots_[pos] = (key << 12) | static_cast<uint32_t>(code); }

 private:
  uint32_t slots_[kSlots];
};

// Packs codes least significant bit first into sub-blocks of at most 255 bytes.
class CodeWriter {
 public:
  explicit CodeWriter(std::ostream& out) : out_(out) {}
  void Put(int code, int width) {
    bits_ |= static_cast<uint64_t>(code) << pending_;
    pending_ += width;
    while (pending_ >= 8) {
      Byte(static_cast<uint8_t>(bits_ & 0xFF));
      bits_ >>= 8;
      pending_ -= 8;
    }
  }
  void Finish() {
    if (pending_ > 0) Byte(static_cast<uint8_t>(bits_ & 0xFF));
    pending_ = 0;
    bits_ = 0;
    FlushBlock();
    out_.put(0);
  }

 private:
  void Byte(uint8_t b) {
    block_[count_++] = b;
    if (count_ == 255) FlushBlock();
  }
  void FlushBlock() {
    if (count_ == 0) return;
    out_.put(static_cast<char>(count_));
    out_.write(reinterpret_cast<const char*>(block_), count_);
    count_ = 0;
  }
  std::ostream& out_;
  uint64_t bits_ = 0;
  int pending_ = 0;
  uint8_t block_[255];
  int count_ = 0;
};

}  // namespace

int GifColorMap::Add(uint8_t red, uint8_t green, uint8_t blue) {
  if (Count() >= 256) throw Error(ErrorKind::kInvalidData, Tr("Color table overflow"));
  if (Count() >= capacity_) capacity_ = capacity_ == 0 ? 16 : std::min(256, (Count() / 32 + 1) * 32);
  entries_.push_back(Rgb{red, green, blue});
  sorted_ = false;
  return Count() - 1;
}

void GifColorMap::Clear() {
  entries_.clear();
  sorted_ = false;
}

int GifColorMap::ColorBits() const {
  const int n = Count();
  if (n == 0) return 0;
  int b = 1;
  while ((1 << b) < n) ++b;
  return b;
}

void GifGraphicControlExtension::SetTransparent(bool on) {
  bytes[1] = static_cast<uint8_t>(on ? bytes[1] | 1 : bytes[1] & ~1);
  owner_.transparent = on;
}

void GifGraphicControlExtension::SetTransparentIndex(int index) {
  const int count = owner_.ActiveTable().Count();
  if (count > 0 && index >= count) index = 0;  // warning "Invalid color index": no callback is set
  bytes[4] = static_cast<uint8_t>(index);
}

void GifGraphicControlExtension::Write(std::ostream& out) const {
  PutByte(out, 0x21);
  PutByte(out, 0xF9);
  out.write(reinterpret_cast<const char*>(bytes.data()), 6);
}

void GifLoopExtension::Write(std::ostream& out) const {
  PutByte(out, 0x21);
  PutByte(out, 0xFF);
  PutByte(out, 0x0B);
  out.write("NETSCAPE2.0", 11);
  PutByte(out, 0x03);
  PutByte(out, 0x01);
  Put16(out, loop_count);
  if (buffer_size != 0) {
    PutByte(out, 0x05);
    PutByte(out, 0x02);
    Put16(out, buffer_size & 0xFFFF);
    Put16(out, buffer_size >> 16);
  }
  PutByte(out, 0x00);
}

void GifTrailer::Write(std::ostream& out) { PutByte(out, 0x3B); }

const GifColorMap& GifFrame::ActiveTable() const {
  if (local.Count() > 0) return local;
  if (image_.global.Count() > 0) return image_.global;
  return local;
}

std::unique_ptr<GifGraphicControlExtension> GifFrame::CreateGraphicControl() {
  return std::make_unique<GifGraphicControlExtension>(*this);
}

GifGraphicControlExtension* GifFrame::Gce() const {
  for (const auto& ext : extensions)
    if (auto* gce = dynamic_cast<GifGraphicControlExtension*>(ext.get())) return gce;
  return nullptr;
}

struct GifPixelSpool {
  platform::SpoolFile file;
  uint64_t end = 0;
};

void FramePixels::Count(const uint8_t* data) const {
  stored_histogram_.fill(0);
  for (size_t i = 0; i < size_; ++i) ++stored_histogram_[data[i]];
  histogram_valid_ = true;
}

void FramePixels::Assign(std::vector<uint8_t> pixels) {
  borrowed_.reset();
  size_ = pixels.size();
  has_pending_ = false;
  Count(pixels.data());
  if (!spool_) {
    memory_ = std::move(pixels);
    return;
  }
  // A frame that shrinks (cropping) keeps its place in the spool.
  if (size_ > capacity_) {
    offset_ = spool_->end;
    capacity_ = size_;
    spool_->end += size_;
  }
  spool_->file.WriteAt(offset_, pixels.data(), size_);
}

void FramePixels::Borrow(int width, int height, RowMaker rows) {
  memory_.clear();
  memory_.shrink_to_fit();
  borrowed_ = std::make_unique<Borrowed>();
  borrowed_->rows = std::move(rows);
  borrowed_->width = width;
  borrowed_->full_row.resize(static_cast<size_t>(width));
  size_ = static_cast<size_t>(width) * static_cast<size_t>(height);
  has_pending_ = false;
  histogram_valid_ = false;
}

void FramePixels::MakeRow(int y, uint8_t* out, bool remapped) const {
  Borrowed& b = *borrowed_;
  const size_t w = static_cast<size_t>(b.width);
  if (b.x == 0 && w == b.full_row.size()) {
    b.rows(b.y + y, out);
  } else {
    b.rows(b.y + y, b.full_row.data());
    std::memcpy(out, b.full_row.data() + b.x, w);
  }
  if (remapped && has_pending_)
    for (size_t i = 0; i < w; ++i) out[i] = pending_[out[i]];
}

void FramePixels::MakeAll(uint8_t* out) const {
  const size_t w = static_cast<size_t>(borrowed_->width);
  for (size_t y = 0; w > 0 && y < size_ / w; ++y) MakeRow(static_cast<int>(y), out + y * w, true);
}

void FramePixels::Materialise() const {
  std::vector<uint8_t> all(size_);
  MakeAll(all.data());
  borrowed_.reset();
  memory_ = std::move(all);
  has_pending_ = false;
  histogram_valid_ = false;
}

void FramePixels::Cut(int width, int x, int y, int w, int h) {
  const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
  if (borrowed_) {
    borrowed_->x += x;
    borrowed_->y += y;
    borrowed_->width = w;
    size_ = n;
    histogram_valid_ = false;
    return;
  }
  std::vector<uint8_t> cut(n);
  ForEachRow(width, [&](int row_y, const uint8_t* row) {
    if (row_y >= y && row_y < y + h) std::memcpy(cut.data() + static_cast<size_t>(row_y - y) * w, row + x, static_cast<size_t>(w));
  });
  Assign(std::move(cut));
}

void FramePixels::ForEachRow(int width, const std::function<void(int y, const uint8_t* row)>& row) const {
  if (width <= 0) return;
  const size_t w = static_cast<size_t>(width), rows = size_ / w;
  if (borrowed_) {
    std::vector<uint8_t> made(w);
    for (size_t y = 0; y < rows; ++y) {
      MakeRow(static_cast<int>(y), made.data(), true);
      row(static_cast<int>(y), made.data());
    }
    return;
  }
  Settle();
  if (!spool_) {
    for (size_t y = 0; y < rows; ++y) row(static_cast<int>(y), memory_.data() + y * w);
    return;
  }
  // From the spool a megabyte of rows at a time.
  const size_t per_block = std::max<size_t>(1, (size_t{1} << 20) / w);
  std::vector<uint8_t> block;
  for (size_t y0 = 0; y0 < rows; y0 += per_block) {
    const size_t n = std::min(per_block, rows - y0);
    block.resize(n * w);
    spool_->file.ReadAt(offset_ + y0 * w, block.data(), n * w);
    for (size_t k = 0; k < n; ++k) row(static_cast<int>(y0 + k), block.data() + k * w);
  }
}

void FramePixels::Clear() {
  borrowed_.reset();
  memory_.clear();
  memory_.shrink_to_fit();
  size_ = 0;
  has_pending_ = false;
  histogram_valid_ = false;
}

uint8_t FramePixels::At(size_t i) const {
  if (borrowed_) {
    const size_t w = static_cast<size_t>(borrowed_->width);
    std::vector<uint8_t> row(w);
    MakeRow(static_cast<int>(i / w), row.data(), true);
    return row[i % w];
  }
  Settle();
  if (!spool_) return memory_[i];
  uint8_t v = 0;
  spool_->file.ReadAt(offset_ + i, &v, 1);
  return v;
}

std::array<uint64_t, 256> FramePixels::Histogram() const {
  if (!histogram_valid_ && borrowed_) {
    // Of the rows as made: the remapping still to apply is applied below.
    stored_histogram_.fill(0);
    std::vector<uint8_t> row(static_cast<size_t>(borrowed_->width));
    for (size_t y = 0; !row.empty() && y < size_ / row.size(); ++y) {
      MakeRow(static_cast<int>(y), row.data(), false);
      for (uint8_t v : row) ++stored_histogram_[v];
    }
    histogram_valid_ = true;
  }
  if (!histogram_valid_) {
    View view(*this, false);  // settles any remapping and counts
    Count(view.data());
  }
  if (!has_pending_) return stored_histogram_;
  std::array<uint64_t, 256> out{};
  for (int v = 0; v < 256; ++v) out[pending_[v]] += stored_histogram_[v];
  return out;
}

void FramePixels::Remap(const std::array<uint8_t, 256>& map) {
  if (size_ == 0) return;
  if (!has_pending_) {
    pending_ = map;
    has_pending_ = true;
  } else {
    for (uint8_t& v : pending_) v = map[v];
  }
}

void FramePixels::Settle() const {
  if (!has_pending_ || borrowed_) return;
  std::vector<uint8_t> loaded;
  uint8_t* data = memory_.data();
  if (spool_) {
    loaded.resize(size_);
    spool_->file.ReadAt(offset_, loaded.data(), size_);
    data = loaded.data();
  }
  for (size_t i = 0; i < size_; ++i) data[i] = pending_[data[i]];
  if (spool_) spool_->file.WriteAt(offset_, loaded.data(), size_);
  // Only now: a spool that could not be read leaves the map still to apply.
  has_pending_ = false;
  if (histogram_valid_) {
    std::array<uint64_t, 256> settled{};
    for (int v = 0; v < 256; ++v) settled[pending_[v]] += stored_histogram_[v];
    stored_histogram_ = settled;
  }
}

FramePixels::View::View(const FramePixels& owner, bool write) : owner_(owner), write_(write), size_(owner.size_) {
  if (owner.borrowed_ && write) owner.Materialise();
  if (owner.borrowed_) {
    loaded_.resize(size_);
    owner.MakeAll(loaded_.data());
    data_ = loaded_.data();
    return;
  }
  owner.Settle();
  if (write) owner.histogram_valid_ = false;
  if (!owner.spool_) {
    data_ = const_cast<uint8_t*>(owner.memory_.data());
    return;
  }
  loaded_.resize(size_);
  owner.spool_->file.ReadAt(owner.offset_, loaded_.data(), size_);
  data_ = loaded_.data();
}

FramePixels::View::~View() {
  if (!owner_.spool_ || !write_) return;
  try {
    owner_.spool_->file.WriteAt(owner_.offset_, loaded_.data(), size_);
  } catch (...) {
    // A destructor cannot raise; the spool's next use reports the disk.
  }
}

GifImage::GifImage() = default;
GifImage::~GifImage() = default;

void GifImage::SpoolFrames() {
  if (!spool_) spool_ = std::make_unique<GifPixelSpool>();
}

namespace {

// One row of a picture as a frame's indexes: its own up to 8 bits; for true
// colour the 216-colour cube's, +3 rather than the +25 of a nearest level:
// 0..47 is level 0, 48..98 level 1, ...
void IndexRow(const ImageRows& b, int y, uint8_t* p) {
  static const std::array<uint8_t, 256> level = [] {
    std::array<uint8_t, 256> l{};
    for (int v = 0; v < 256; ++v) l[static_cast<size_t>(v)] = static_cast<uint8_t>((v + 3) / 51);
    return l;
  }();
  const uint8_t* s = b.Row(y);
  const int w = b.Width();
  switch (b.Bits()) {
    case 8:
      std::memcpy(p, s, static_cast<size_t>(w));
      break;
    case 4:
      for (int x = 0; x < w; ++x) p[x] = static_cast<uint8_t>(IndexAt(s, x, 4));
      break;
    case 1:
      for (int x = 0; x < w; ++x) p[x] = static_cast<uint8_t>(IndexAt(s, x, 1));
      break;
    default:
      for (int x = 0; x < w; ++x, s += 3) p[x] = static_cast<uint8_t>(36 * level[s[2]] + 6 * level[s[1]] + level[s[0]]);
      break;
  }
}

}  // namespace

int GifImage::AddFrame(const DibImage& dib) {
  // The DIB's rows where they are: a copy of a big picture would double it.
  const auto rows = std::make_shared<const ImageRows>(dib);
  const ImageRows& b = *rows;
  if (b.Width() > 65535 || b.Height() > 65535)
    throw Error(ErrorKind::kInvalidData, Tr("Image of {1} x {2} pixels exceeds the GIF limit of 65535 pixels per side",
                      {std::to_string(b.Width()), std::to_string(b.Height())}));
  auto frame = std::make_unique<GifFrame>(*this);
  frame->width = static_cast<uint16_t>(b.Width());
  frame->height = static_cast<uint16_t>(b.Height());
  if (b.Bits() <= 8) {
    const auto& palette = b.Palette();
    for (size_t i = 0; i < palette.size() && i < 256; ++i)
      frame->local.Add(palette[i].red, palette[i].green, palette[i].blue);
  } else {
    // The 216-colour cube; entries 216..255 only fill the table.
    for (int k = 0; k < 216; ++k)
      frame->local.Add(static_cast<uint8_t>(51 * (k / 36)), static_cast<uint8_t>(51 * ((k / 6) % 6)),
                       static_cast<uint8_t>(51 * (k % 6)));
    for (int k = 216; k < 256; ++k) frame->local.Add(0, 0, 0);
  }
  if (borrow_) {
    frame->pixels.Borrow(b.Width(), b.Height(), [rows](int y, uint8_t* out) { IndexRow(*rows, y, out); });
  } else {
    frame->pixels.spool_ = spool_.get();
    std::vector<uint8_t> pixels(static_cast<size_t>(b.Width()) * b.Height());
    for (int y = 0; y < b.Height(); ++y) IndexRow(b, y, pixels.data() + static_cast<size_t>(y) * b.Width());
    frame->pixels.Assign(std::move(pixels));
  }
  if (frame->left + frame->width > screen_width) screen_width = static_cast<uint16_t>(frame->left + frame->width);
  if (frame->top + frame->height > screen_height) screen_height = static_cast<uint16_t>(frame->top + frame->height);
  frames.push_back(std::move(frame));
  return static_cast<int>(frames.size()) - 1;
}

int GifImage::FramePixel(const GifFrame& frame, int x, int y) {
  if (x < 0 || y < 0 || x >= frame.width || y >= frame.height || frame.pixels.empty())
    throw Error(ErrorKind::kInvalidData, Tr("Invalid pixel coordinates"));
  return frame.pixels.At(static_cast<size_t>(y) * frame.width + x);
}

namespace {

// The colour-table rebuild: one histogram per colour table in use, pooled,
// equal colours merged, the most used 256 (255 with transparency) kept and
// the rest mapped to their nearest kept colour by the sum of their channels.
class TableRebuild {
 public:
  TableRebuild(GifColorMap& global, std::vector<std::unique_ptr<GifFrame>>& frames)
      : global_(global), frames_(frames), histogram_of_(frames.size(), -1) {}

  void Run() {
    BuildHistograms();
    const bool transparency = CountPixels();
    std::vector<int> pool = PoolColours();
    size_t kept = 0;
    while (kept < pool.size() && records_[pool[kept]].count > 0) ++kept;
    kept = std::min<size_t>(kept, transparency ? 255 : 256);
    GifColorMap table = KeepColours(pool, kept);
    const int new_t = transparency ? table.Add(0, 0, 0) : 0;
    std::vector<int> old_t(frames_.size(), -1);
    for (size_t f = 0; f < frames_.size(); ++f)
      if (frames_[f]->transparent) old_t[f] = frames_[f]->TransparentIndex();
    for (auto& frame : frames_) frame->local.Clear();
    global_ = std::move(table);
    global_.SetSorted(true);
    Remap(transparency, old_t, new_t);
  }

 private:
  struct Record {
    int64_t count = 0;
    int old_index = 0;
    int new_index = 0;
    uint32_t color = 0;
    int link = -1;
  };
  struct Histogram {
    const GifColorMap* table;
    std::vector<int> ids;  // record ids by old index
    bool fed = false;
  };

  int MakeHistogram(const GifColorMap& table) {
    Histogram h{&table, {}, false};
    for (int i = 0; i < table.Count(); ++i) {
      h.ids.push_back(static_cast<int>(records_.size()));
      Record r;
      r.old_index = i;
      r.color = table[i][0] + 256u * table[i][1] + 65536u * table[i][2];
      records_.push_back(r);
    }
    histograms_.push_back(std::move(h));
    return static_cast<int>(histograms_.size()) - 1;
  }

  void BuildHistograms() {
    if (global_.Count() > 0) {
      const int g = MakeHistogram(global_);
      for (size_t f = 0; f < frames_.size(); ++f)
        if (!frames_[f]->Empty() && frames_[f]->local.Count() == 0) histogram_of_[f] = g, histograms_[g].fed = true;
    }
    for (size_t f = 0; f < frames_.size(); ++f)
      if (!frames_[f]->Empty() && frames_[f]->local.Count() > 0) histogram_of_[f] = MakeHistogram(frames_[f]->local);
  }

  // Counts every frame's pixels into its table's histogram; a frame whose
  // transparent colour is unused loses its transparency. Returns whether
  // any frame keeps one.
  bool CountPixels() {
    bool transparency_used = false;
    for (size_t f = 0; f < frames_.size(); ++f) {
      if (histogram_of_[f] < 0) continue;
      GifFrame& frame = *frames_[f];
      const Histogram& h = histograms_[static_cast<size_t>(histogram_of_[f])];
      const int count = h.table->Count();
      const int t = frame.TransparentIndex();
      bool has_t = false;
      // Counted per index value rather than per pixel: every pixel of a value
      // is treated alike.
      const std::array<uint64_t, 256> histogram = frame.pixels.Histogram();
      std::array<uint8_t, 256> outside{};
      bool any_outside = false;
      for (int v = 0; v < 256; ++v) {
        outside[v] = static_cast<uint8_t>(v);
        if (histogram[v] == 0) continue;
        if (frame.transparent && v == t) {
          has_t = true;
          continue;
        }
        int px = v;
        if (px >= count) {  // warning "Color not in color table": no callback is set
          px = 0;
          outside[v] = 0;
          any_outside = true;
        }
        records_[static_cast<size_t>(h.ids[px])].count += static_cast<int64_t>(histogram[v]);
      }
      if (any_outside) frame.pixels.Remap(outside);
      if (frame.transparent && !has_t) {
        if (frame.Gce()) {
          frame.Gce()->SetTransparent(false);
          frame.Gce()->bytes[4] = 0;
        }
        frame.transparent = false;
      }
      if (frame.transparent && has_t) transparency_used = true;
    }
    return transparency_used;
  }

  // Unused colours pruned, all histograms pooled, equal colours merged into
  // their first; most used first.
  std::vector<int> PoolColours() {
    std::vector<int> pool;
    for (const Histogram& h : histograms_) {
      if (h.table == &global_ && !h.fed) continue;
      for (int id : h.ids)
        if (records_[static_cast<size_t>(id)].count > 0) pool.push_back(id);
    }
    std::stable_sort(pool.begin(), pool.end(), [&](int a, int b) { return records_[a].color > records_[b].color; });
    for (size_t i = 0; i < pool.size();) {
      size_t j = i + 1;
      while (j < pool.size() && records_[pool[j]].color == records_[pool[i]].color) {
        records_[pool[i]].count += records_[pool[j]].count;
        records_[pool[j]].count = 0;
        records_[pool[j]].link = pool[i];
        ++j;
      }
      i = j;
    }
    std::stable_sort(pool.begin(), pool.end(), [&](int a, int b) { return records_[a].count > records_[b].count; });
    return pool;
  }

  // The table of the kept colours; every other colour takes the index of
  // the kept one nearest by channel sum, or of the colour it was merged into.
  GifColorMap KeepColours(const std::vector<int>& pool, size_t kept) {
    GifColorMap table;
    for (size_t i = 0; i < kept; ++i) {
      Record& r = records_[pool[i]];
      r.new_index = static_cast<int>(i);
      table.Add(static_cast<uint8_t>(r.color & 0xFF), static_cast<uint8_t>((r.color >> 8) & 0xFF),
                static_cast<uint8_t>(r.color >> 16));
    }
    auto sum = [](uint32_t c) { return static_cast<int>((c & 0xFF) + ((c >> 8) & 0xFF) + (c >> 16)); };
    for (size_t i = kept; i < pool.size(); ++i) {
      Record& r = records_[pool[i]];
      if (r.count == 0) {
        r.new_index = records_[static_cast<size_t>(r.link)].new_index;
        continue;
      }
      int best = 765, best_index = 0;
      for (size_t k = 0; k < kept; ++k) {
        const int d = std::abs(sum(r.color) - sum(records_[pool[k]].color));
        if (d < best) best = d, best_index = static_cast<int>(k);
      }
      r.new_index = best_index;
    }
    return table;
  }

  void Remap(bool transparency_used, const std::vector<int>& old_t, int new_t) {
    for (size_t f = 0; f < frames_.size(); ++f) {
      if (histogram_of_[f] < 0) continue;
      GifFrame& frame = *frames_[f];
      const Histogram& h = histograms_[static_cast<size_t>(histogram_of_[f])];
      const bool remap_t = transparency_used && frame.transparent;
      std::array<uint8_t, 256> map;
      for (int i = 0; i < 256; ++i)
        map[i] = remap_t && i == old_t[f]               ? static_cast<uint8_t>(new_t)
                 : i < static_cast<int>(h.ids.size()) ? static_cast<uint8_t>(records_[h.ids[i]].new_index)
                                                        : 0;
      frame.pixels.Remap(map);
      if (remap_t && frame.Gce()) frame.Gce()->SetTransparentIndex(new_t);
    }
  }

  GifColorMap& global_;
  std::vector<std::unique_ptr<GifFrame>>& frames_;
  std::vector<Record> records_;
  std::vector<Histogram> histograms_;
  std::vector<int> histogram_of_;
};

}  // namespace

void GifImage::OptimizeColorTables() { TableRebuild(global, frames).Run(); }

void GifImage::OptimizeFrames(int options) {
  if (frames.empty()) return;
  if (options & 2) {
    for (size_t i = frames.size() - 1; i >= 1; --i) {
      size_t p = i - 1;
      while (p > 0 && frames[p]->Gce() && frames[p]->Gce()->Disposal() == 3) --p;
      Merge(*frames[i], *frames[p]);
    }
  }
  if (options & 1) {
    for (size_t n = frames.size(); n-- > 0;) {
      GifFrame& frame = *frames[n];
      if (frame.Empty() || !frame.transparent) continue;
      // A first frame that is transparent all over stays whole: cropping it
      // away would leave a picture of one colour without any frame.
      if (n == 0 && AllTransparent(frame)) continue;
      const uint16_t d = frame.Gce() ? frame.Gce()->Delay() : 0;
      Crop(frame);
      if (!frame.Empty()) continue;
      if (n > 0 && frames[n - 1]->transparent && frames[n - 1]->Gce())
        frames[n - 1]->Gce()->SetDelay(static_cast<uint16_t>(frames[n - 1]->Gce()->Delay() + d));
      frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(n));
    }
  }
}

int GifImage::SettleTransparentIndex(GifFrame& c) {
  if (c.local.Count() > 0) return c.local.Add(0, 0, 0);
  for (const auto& other : frames)
    if (other.get() != &c && other->transparent && other->local.Count() == 0) return other->TransparentIndex();
  return global.Add(0, 0, 0);
}

void GifImage::Merge(GifFrame& c, GifFrame& p) {
  if (c.Empty() || p.Empty()) return;
  if (p.Gce() && (p.Gce()->Disposal() == 2 || p.Gce()->Disposal() == 3)) return;
  const int x0 = std::max<int>(c.left, p.left), y0 = std::max<int>(c.top, p.top);
  const int x1 = std::min<int>(c.left + c.width, p.left + p.width),
            y1 = std::min<int>(c.top + c.height, p.top + p.height);
  if (x0 >= x1 || y0 >= y1) return;
  const bool was_transparent = c.transparent;
  bool settled = c.transparent;
  int t = settled ? c.TransparentIndex() : 0;
  if (!settled && (c.ActiveTable().Count() == 0 || c.ActiveTable().Count() == 256)) return;
  const bool p_transparent = p.transparent;
  const int tp = p.TransparentIndex();
  const GifColorMap& ct = c.ActiveTable();
  const GifColorMap& pt = p.ActiveTable();
  const bool same_table = &ct == &pt;
  auto c_pixels = c.pixels.Edit();
  auto p_pixels = p.pixels.Read();
  for (int y = y0; y < y1; ++y) {
    const size_t crow = static_cast<size_t>(y - c.top) * c.width;
    const size_t prow = static_cast<size_t>(y - p.top) * p.width;
    for (int x = x0; x < x1; ++x) {
      uint8_t& cpx = c_pixels[crow + static_cast<size_t>(x - c.left)];
      const int a = cpx, b = p_pixels[prow + static_cast<size_t>(x - p.left)];
      if ((settled && a == t) || (p_transparent && b == tp)) continue;
      bool same = same_table && a == b;
      if (!same) {
        const GifColorMap& ca = c.ActiveTable();
        const GifColorMap& pb = p.ActiveTable();
        same = a < ca.Count() && b < pb.Count() && ca[a] == pb[b];
      }
      if (!same) continue;
      if (!settled) {
        t = SettleTransparentIndex(c);
        settled = true;
      }
      cpx = static_cast<uint8_t>(t);
    }
  }
  if (!was_transparent && settled) {
    if (!c.Gce()) c.extensions.push_back(c.CreateGraphicControl());
    c.Gce()->SetTransparent(true);
    c.Gce()->SetTransparentIndex(t);
  }
}

bool GifImage::AllTransparent(const GifFrame& frame) {
  const uint8_t t = static_cast<uint8_t>(frame.TransparentIndex());
  bool all = true;
  frame.pixels.ForEachRow(frame.width, [&](int, const uint8_t* row) {
    all = all && std::all_of(row, row + frame.width, [t](uint8_t px) { return px == t; });
  });
  return all;
}

void GifImage::Crop(GifFrame& frame) {
  const int t = frame.TransparentIndex();
  const int w = frame.width, h = frame.height;
  // The box around every pixel that is not the transparent colour.
  int left = w, right = -1, top = -1, bottom = -1;
  frame.pixels.ForEachRow(w, [&](int y, const uint8_t* row) {
    int first = 0;
    while (first < w && row[first] == t) ++first;
    if (first == w) return;
    int last = w - 1;
    while (row[last] == t) --last;
    left = std::min(left, first);
    right = std::max(right, last);
    if (top < 0) top = y;
    bottom = y;
  });
  if (top < 0) {
    frame.pixels.Clear();
    frame.width = frame.height = 0;
    frame.extensions.clear();
    frame.transparent = false;
    return;
  }
  const int nw = right - left + 1, nh = bottom - top + 1;
  if (nw == w && nh == h) return;
  frame.pixels.Cut(w, left, top, nw, nh);
  frame.left = static_cast<uint16_t>(frame.left + left);
  frame.top = static_cast<uint16_t>(frame.top + top);
  frame.width = static_cast<uint16_t>(nw);
  frame.height = static_cast<uint16_t>(nh);
}

int GifImage::MaxColorBits() const {
  int bits = global.ColorBits();
  for (const auto& f : frames) bits = std::max(bits, f->local.ColorBits());
  return bits;
}

void GifImage::SaveToStream(std::ostream& out) {
  if (frames.empty()) throw Error(ErrorKind::kInvalidData, Tr("Unsupported GIF version"));
  bool v89a = false;
  for (const auto& f : frames) v89a = v89a || f->local.Sorted() || !f->extensions.empty();
  out.write(v89a ? "GIF89a" : "GIF87a", 6);
  const int resolution = MaxColorBits();
  uint8_t packed = 0;
  if (global.Count() > 0) {
    packed |= 0x80;
    if (global.Sorted()) packed |= 0x08;
  }
  packed |= static_cast<uint8_t>((((resolution - 1) & 7) << 4) | ((resolution - 1) & 7));
  screen_packed = packed;
  Put16(out, screen_width);
  Put16(out, screen_height);
  PutByte(out, screen_packed);
  PutByte(out, background);
  PutByte(out, aspect);
  if (packed & 0x80) WriteTable(out, global);
  for (const auto& f : frames) {
    for (const auto& ext : f->extensions) ext->Write(out);
    if (f->Empty()) continue;
    if (f->local.Count() > 0)
      f->packed = static_cast<uint8_t>(0x80 | (f->local.Sorted() ? 0x20 : 0) | ((f->local.ColorBits() - 1) & 7));
    else
      f->packed &= 0x58;
    PutByte(out, 0x2C);
    Put16(out, f->left);
    Put16(out, f->top);
    Put16(out, f->width);
    Put16(out, f->height);
    PutByte(out, f->packed);
    if (f->local.Count() > 0) WriteTable(out, f->local);
    WritePixels(out, *f);
  }
  GifTrailer::Write(out);
  if (!out) throw Error(ErrorKind::kInvalidData, Tr("GIF write error"));
}

void GifImage::WritePixels(std::ostream& out, const GifFrame& frame) const {
  int b, limit;
  if (frame.local.Count() > 0) {
    b = frame.local.ColorBits();
    limit = frame.local.Count();
  } else {
    b = MaxColorBits();
    limit = 1 << b;
  }
  if (b < 2) b = 2;
  PutByte(out, static_cast<unsigned>(b));
  const int clear = 1 << b, end = clear + 1;
  int next_free = clear + 2;
  int width = b + 1;
  int max_code = (1 << width) - 1;
  CodeWriter writer(out);
  auto table = std::make_unique<StringTable>();
  auto emit = [&](int code) {
    writer.Put(code, width);
    if (code == clear) {
      width = b + 1;
      max_code = (1 << width) - 1;
    } else if (next_free > max_code) {
      ++width;
      max_code = width == 12 ? 4096 : (1 << width) - 1;
    }
  };
  emit(clear);
  bool first = true;
  int prefix = 0;
  frame.pixels.ForEachRow(frame.width, [&](int, const uint8_t* row) {
    for (int x = 0; x < frame.width; ++x) {
      const int c = row[x];
      if (c >= limit) throw Error(ErrorKind::kInvalidData, Tr("Color not in color table"));
      if (first) {
        prefix = c;
        first = false;
        continue;
      }
      const uint32_t key = static_cast<uint32_t>(prefix) * 256 + static_cast<uint32_t>(c);
      int pos = 0;
      const int code = table->Find(key, pos);
      if (code >= 0) {
        prefix = code;
        continue;
      }
      emit(prefix);
      prefix = c;
      if (next_free >= 4095) {
        emit(clear);
        table->Reset();
        next_free = clear + 2;
      } else {
        table->Insert(pos, key, next_free++);
      }
    }
  });
  emit(prefix);
  emit(end);
  writer.Finish();
}

int PickTransparentIndex(const GifFrame& frame, const GifFramePoint* pick) {
  return pick ? GifImage::FramePixel(frame, pick->x, pick->y) : GifImage::FramePixel(frame, 0, 0);
}

void AddGifFrame(GifImage& image, const DibImage& dib, bool trans, const std::string& delay_text,
                 const GifFramePoint* pick) {
  // The delay is a decimal number as the text box holds it; 16 bits are kept.
  long long delay = 0;
  const char* first = delay_text.data();
  const char* last = first + delay_text.size();
  while (first < last && (*first == ' ' || *first == '\t')) ++first;
  if (first < last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  const auto [end, error] = std::from_chars(first, last, delay, 10);
  if (error != std::errc() || end != last || first == last || delay > 2147483647LL || delay < -2147483648LL)
    throw Error(ErrorKind::kInvalidData, Tr("'{1}' is not a valid integer value", {delay_text}));
  const int i = image.AddFrame(dib);
  GifFrame& frame = *image.frames[static_cast<size_t>(i)];
  try {
    if (i == 0) frame.extensions.push_back(std::make_unique<GifLoopExtension>());
    auto gce = frame.CreateGraphicControl();
    gce->SetDelay(static_cast<uint16_t>(static_cast<uint64_t>(delay) & 0xFFFF));
    if (trans) {
      gce->SetTransparent(true);
      gce->SetTransparentIndex(PickTransparentIndex(frame, pick));
    }
    frame.extensions.push_back(std::move(gce));
  } catch (...) {
    // A source that fails here leaves no half-made frame in an animation.
    image.frames.pop_back();
    throw;
  }
}

void AddFinishedFrame(GifImage& gif, const DibImage& image, const EncodeOptions& options) {
  const GifFramePoint point{options.x, options.y};
  AddGifFrame(gif, image, options.transparent, options.delay, options.picker ? &point : nullptr);
  gif.OptimizeColorTables();
  gif.OptimizeFrames(3);
}

const OutputFormat& GifOutput() {
  static const OutputFormat format{
      .extension = "gif",
      .name = "GIF",
      .takes_transparency = true,
      .picks_colour = true,
      .encode = [](const DibImage& image, const EncodeOptions& options, std::ostream& out) {
        GifImage gif;
        gif.BorrowPictures();
        AddFinishedFrame(gif, image, options);
        gif.SaveToStream(out);
      },
      // A picture of more than 256 colours is reduced into a plane of indexes.
      .memory = [](int64_t width, int64_t height, int bits, const EncodeOptions&) -> uint64_t {
        return kEncoderBuffers + (bits > 8 ? static_cast<uint64_t>(width) * static_cast<uint64_t>(height) : 0);
      },
      .combine = [](const EncodeOptions&) -> std::unique_ptr<CombinedOutput> { return std::make_unique<AnimatedGif>(); },
  };
  return format;
}

}  // namespace velmora
