#include "formats/exif.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace velmora {
namespace {

// A TIFF structure's byte order and bounded reads.
class TiffView {
 public:
  TiffView(const uint8_t* data, size_t size) : data_(data), size_(size) {
    if (size < 8) return;
    little_ = data[0] == 'I' && data[1] == 'I';
    if (!little_ && !(data[0] == 'M' && data[1] == 'M')) return;
    valid_ = U16(2) == 42;
  }
  bool Valid() const { return valid_; }
  bool Little() const { return little_; }
  size_t Size() const { return size_; }
  const uint8_t* At(uint64_t offset) const { return data_ + offset; }
  bool Holds(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }
  uint32_t U16(uint64_t at) const {
    return little_ ? data_[at] | (data_[at + 1] << 8) : (data_[at] << 8) | data_[at + 1];
  }
  uint32_t U32(uint64_t at) const {
    return little_ ? U16(at) | (U16(at + 2) << 16) : (U16(at) << 16) | U16(at + 2);
  }
  // The entries of the directory at offset that lie within the data (a
  // count beyond its end still reaches the entries before it).
  uint32_t Entries(uint64_t ifd) const {
    if (ifd < 8 || !Holds(ifd, 2)) return 0;
    return static_cast<uint32_t>(std::min<uint64_t>(U16(ifd), (size_ - ifd - 2) / 12));
  }

 private:
  const uint8_t* data_;
  size_t size_;
  bool little_ = false;
  bool valid_ = false;
};

uint32_t TypeSize(uint32_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// Tags of a first directory that describe the file's own pixels and
// structure: they never travel to another file.
bool IsFileStructure(uint32_t tag) {
  static const std::set<uint32_t> kStructure = {
      254, 255, 256, 257, 258, 259, 262, 266, 273, 277, 278, 279, 284, 317, 320, 322, 323, 324, 325, 330, 332, 338,
      339, 513, 514, 529, 530, 531, 532, 700, 33723, 34377, 34675, 50341, 50740};
  return kStructure.count(tag) > 0;
}

constexpr uint32_t kExifIfd = 34665, kGpsIfd = 34853, kInteropIfd = 40965;

bool IsDirectory(uint32_t tag) { return tag == kExifIfd || tag == kGpsIfd || tag == kInteropIfd; }

// Copies directories from a TIFF structure into a block of their own. Run
// once without writing to learn the size, then again to write.
class ExifCopier {
 public:
  ExifCopier(const TiffView& in, bool write) : in_(in), write_(write) {}

  // Appends the directory at ifd (first: the file's first directory, whose
  // structure tags are left out); returns its offset in the block, or 0.
  uint32_t Directory(uint32_t ifd, bool first, int depth) {
    const uint32_t count = in_.Entries(ifd);
    if (count == 0 || depth > 2 || !visited_.insert(ifd).second) return 0;
    std::vector<uint32_t> kept;
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = ifd + 2 + uint64_t{i} * 12;
      const uint32_t tag = in_.U16(entry), type = in_.U16(entry + 2);
      if (TypeSize(type) == 0 || (first && IsFileStructure(tag))) continue;
      if (IsDirectory(tag) && in_.Entries(in_.U32(entry + 8)) == 0) continue;
      const uint64_t bytes = uint64_t{TypeSize(type)} * in_.U32(entry + 4);
      if (bytes > 4 && !in_.Holds(in_.U32(entry + 8), bytes)) continue;
      kept.push_back(static_cast<uint32_t>(entry));
    }
    if (kept.empty()) return 0;
    const uint64_t at = Align(size_);
    size_ = at + 2 + kept.size() * 12 + 4;
    Put16(at, static_cast<uint32_t>(kept.size()));
    Put32(at + 2 + kept.size() * 12, 0);  // the next directory (a thumbnail's) stays behind
    for (size_t k = 0; k < kept.size(); ++k) {
      const uint32_t entry = kept[k];
      const uint64_t out = at + 2 + k * 12;
      const uint32_t tag = in_.U16(entry), type = in_.U16(entry + 2), count_of = in_.U32(entry + 4);
      Put16(out, tag);
      Put16(out + 2, type);
      Put32(out + 4, count_of);
      const uint64_t bytes = uint64_t{TypeSize(type)} * count_of;
      if (IsDirectory(tag)) {
        Put32(out + 8, Directory(in_.U32(entry + 8), false, depth + 1));
      } else if (bytes <= 4) {
        Copy(out + 8, in_.At(entry + 8), 4);
      } else {
        const uint64_t value = Align(size_);
        size_ = value + bytes;
        Copy(value, in_.At(in_.U32(entry + 8)), bytes);
        Put32(out + 8, static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX)));
      }
    }
    return static_cast<uint32_t>(std::min<uint64_t>(at, UINT32_MAX));
  }
  uint64_t Size() const { return size_; }
  std::vector<uint8_t> Take() { return std::move(block_); }
  void Reserve(uint64_t size) {
    block_.assign(size, 0);
    block_[0] = block_[1] = in_.Little() ? 'I' : 'M';
    Put16(2, 42);
    Put32(4, 8);
  }

 private:
  static uint64_t Align(uint64_t v) { return (v + 1) & ~uint64_t{1}; }
  void Copy(uint64_t at, const uint8_t* from, uint64_t n) {
    if (write_) std::memcpy(block_.data() + at, from, n);
  }
  void Put16(uint64_t at, uint32_t v) {
    if (!write_) return;
    block_[at] = static_cast<uint8_t>(in_.Little() ? v : v >> 8);
    block_[at + 1] = static_cast<uint8_t>(in_.Little() ? v >> 8 : v);
  }
  void Put32(uint64_t at, uint32_t v) {
    Put16(at + (in_.Little() ? 0 : 2), v & 0xFFFF);
    Put16(at + (in_.Little() ? 2 : 0), v >> 16);
  }

  const TiffView& in_;
  const bool write_;
  uint64_t size_ = 8;
  std::vector<uint8_t> block_;
  std::set<uint32_t> visited_;
};

}  // namespace

int ExifOrientation(const uint8_t* data, size_t size) {
  if (!data) return 1;
  if (size >= 6 && std::memcmp(data, "Exif\0\0", 6) == 0) data += 6, size -= 6;
  const TiffView in(data, size);
  if (!in.Valid()) return 1;
  const uint32_t ifd = in.U32(4);
  const uint32_t count = in.Entries(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = ifd + 2 + uint64_t{i} * 12;
    if (in.U16(entry) == 0x0112) {
      // A SHORT sits left-justified in the value field; some writers use LONG.
      const uint32_t type = in.U16(entry + 2);
      const uint32_t value = type == 3 ? in.U16(entry + 8) : type == 4 ? in.U32(entry + 8) : 0;
      return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
  }
  return 1;
}

std::vector<uint8_t> ExifFromTiff(const uint8_t* data, size_t size, size_t limit, uint64_t* needed) {
  const TiffView in(data, size);
  if (needed) *needed = 0;
  if (!in.Valid()) return {};
  ExifCopier count(in, false);
  if (count.Directory(in.U32(4), true, 0) == 0) return {};
  if (needed) *needed = count.Size();
  if (count.Size() > limit) return {};
  ExifCopier copy(in, true);
  copy.Reserve(count.Size());
  copy.Directory(in.U32(4), true, 0);
  return copy.Take();
}

const uint8_t* TiffTagBytes(const uint8_t* data, size_t size, uint16_t tag, uint64_t* length, uint64_t* entry_at) {
  const TiffView in(data, size);
  *length = 0;
  if (!in.Valid()) return nullptr;
  const uint32_t ifd = in.U32(4);
  const uint32_t count = in.Entries(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = ifd + 2 + uint64_t{i} * 12;
    if (in.U16(entry) != tag) continue;
    const uint64_t bytes = uint64_t{TypeSize(in.U16(entry + 2))} * in.U32(entry + 4);
    const uint64_t at = bytes <= 4 ? entry + 8 : in.U32(entry + 8);
    if (bytes == 0 || !in.Holds(at, bytes)) return nullptr;
    *length = bytes;
    if (entry_at) *entry_at = entry;
    return in.At(at);
  }
  return nullptr;
}

void ForEachPhotoshopResource(const uint8_t* data, size_t size,
                              const std::function<void(uint16_t, const uint8_t*, size_t)>& visit) {
  size_t at = 0;
  while (size - at >= 12 && std::memcmp(data + at, "8BIM", 4) == 0) {
    const uint16_t id = static_cast<uint16_t>(data[at + 4] << 8 | data[at + 5]);
    // A Pascal name padded to an even length, its length byte included.
    const size_t name = (size_t{data[at + 6]} + 2) & ~size_t{1};
    if (size - at - 6 < name + 4) return;
    const size_t length_at = at + 6 + name;
    const uint64_t length = uint64_t{data[length_at]} << 24 | uint64_t{data[length_at + 1]} << 16 |
                            uint64_t{data[length_at + 2]} << 8 | data[length_at + 3];
    const size_t body = length_at + 4;
    if (length > size - body) return;
    visit(id, data + body, static_cast<size_t>(length));
    at = body + static_cast<size_t>((length + 1) & ~uint64_t{1});
    if (at > size) return;
  }
}

}  // namespace velmora
