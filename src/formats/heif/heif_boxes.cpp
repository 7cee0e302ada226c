#include "formats/heif/heif_boxes.h"

#include <cstring>
#include <map>

namespace velmora {
namespace {

// Reads an RBSP bit by bit; running off the end sets failed.
class Bits {
 public:
  explicit Bits(std::vector<uint8_t> rbsp) : rbsp_(std::move(rbsp)) {}
  uint32_t Read(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) {
      if (pos_ >= rbsp_.size() * 8) {
        failed = true;
        return 0;
      }
      v = v << 1 | ((rbsp_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
      ++pos_;
    }
    return v;
  }
  void Skip(size_t n) {
    pos_ += n;
    if (pos_ > rbsp_.size() * 8) failed = true;
  }
  // Exp-Golomb, as the parameter sets code their sizes.
  uint32_t Ue() {
    int zeros = 0;
    while (!failed && Read(1) == 0)
      if (++zeros > 31) failed = true;
    if (failed) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Read(zeros));
  }
  bool failed = false;

 private:
  std::vector<uint8_t> rbsp_;
  size_t pos_ = 0;
};

// The picture size of one sequence parameter set NAL unit (header included).
bool SpsSize(const uint8_t* nal, size_t length, CodedSize& size) {
  if (length < 3) return false;
  std::vector<uint8_t> rbsp;
  rbsp.reserve(length);
  int zeros = 0;
  for (size_t i = 2; i < length; ++i) {  // past the two-byte NAL header
    if (zeros >= 2 && nal[i] == 3) {  // emulation prevention byte
      zeros = 0;
      continue;
    }
    zeros = nal[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(nal[i]);
  }
  Bits b(std::move(rbsp));
  b.Read(4);  // video parameter set id
  const uint32_t sub_layers = b.Read(3);
  b.Read(1);
  b.Skip(96);  // general profile, tier and level
  std::vector<bool> profile(sub_layers), level(sub_layers);
  for (uint32_t i = 0; i < sub_layers; ++i) profile[i] = b.Read(1), level[i] = b.Read(1);
  if (sub_layers > 0) b.Skip(2 * (8 - sub_layers));
  for (uint32_t i = 0; i < sub_layers; ++i) b.Skip((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
  b.Ue();  // sequence parameter set id
  if (b.Ue() == 3) b.Read(1);  // chroma format 4:4:4: separate colour planes
  size.width = b.Ue();
  size.height = b.Ue();
  return !b.failed;
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}


// A bounded big-endian reader over part of the file.
struct Cursor {
  const uint8_t* p;
  const uint8_t* end;
  bool failed = false;
  uint64_t Take(int bytes) {
    if (bytes < 0 || end - p < bytes) {
      failed = true;
      p = end;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | *p++;
    return v;
  }
};

struct Box {
  uint32_t type;
  const uint8_t* body;
  const uint8_t* end;
};

constexpr uint32_t Type(const char (&t)[5]) {
  return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8 | uint8_t(t[3]);
}

// The boxes between from and end; stops at the first one that does not fit.
std::vector<Box> Boxes(const uint8_t* from, const uint8_t* end) {
  std::vector<Box> boxes;
  Cursor c{from, end};
  while (end - c.p >= 8) {
    const uint8_t* start = c.p;
    uint64_t size = c.Take(4);
    const uint32_t type = static_cast<uint32_t>(c.Take(4));
    if (size == 1) size = c.Take(8);
    if (size == 0) size = static_cast<uint64_t>(end - start);
    if (c.failed || size < static_cast<uint64_t>(c.p - start) || size > static_cast<uint64_t>(end - start)) break;
    boxes.push_back(Box{type, c.p, start + size});
    c.p = start + size;
  }
  return boxes;
}

}  // namespace

std::vector<CodedSize> HevcConfigSizes(const uint8_t* data, size_t size) {
  std::vector<CodedSize> sizes;
  // Boxes nest ('meta' > 'iprp' > 'ipco' > 'hvcC'); every 'hvcC' box is found
  // by its type and read within the size its header gives.
  for (size_t at = 4; at + 4 <= size; ++at) {
    if (std::memcmp(data + at, "hvcC", 4) != 0) continue;
    const uint64_t box = Be32(data + at - 4);
    if (box < 8 + 23 || at - 4 + box > size) continue;
    const uint8_t* p = data + at + 4;
    const uint8_t* end = data + at - 4 + box;
    p += 22;  // the fixed part of the configuration record
    const int arrays = *p++;
    for (int a = 0; a < arrays && end - p >= 3; ++a) {
      const int type = p[0] & 0x3F;
      const int count = p[1] << 8 | p[2];
      p += 3;
      for (int n = 0; n < count && end - p >= 2; ++n) {
        const size_t length = static_cast<size_t>(p[0] << 8 | p[1]);
        p += 2;
        if (static_cast<size_t>(end - p) < length) break;
        CodedSize s{};
        if (type == 33 && SpsSize(p, length, s)) sizes.push_back(s);
        p += length;
      }
    }
  }
  return sizes;
}
std::vector<CodedSize> DerivedCanvasSizes(const uint8_t* data, size_t size) {
  std::vector<CodedSize> sizes;
  for (const Box& meta : Boxes(data, data + size)) {
    if (meta.type != Type("meta") || meta.end - meta.body < 4) continue;
    std::map<uint32_t, uint32_t> item_types;
    struct Location {
      int method;
      uint64_t offset;
      uint64_t length;
    };
    std::map<uint32_t, Location> locations;
    const uint8_t* idat = nullptr;
    const uint8_t* idat_end = nullptr;
    for (const Box& box : Boxes(meta.body + 4, meta.end)) {  // past the full box header
      Cursor c{box.body, box.end};
      if (box.type == Type("idat")) {
        idat = box.body, idat_end = box.end;
      } else if (box.type == Type("iinf")) {
        const int version = static_cast<int>(c.Take(1));
        c.Take(3);
        c.Take(version == 0 ? 2 : 4);  // entry count: the boxes say it
        for (const Box& infe : Boxes(c.p, box.end)) {
          if (infe.type != Type("infe")) continue;
          Cursor e{infe.body, infe.end};
          const int v = static_cast<int>(e.Take(1));
          e.Take(3);
          if (v < 2) continue;
          const uint32_t id = static_cast<uint32_t>(e.Take(v == 2 ? 2 : 4));
          e.Take(2);
          const uint32_t type = static_cast<uint32_t>(e.Take(4));
          if (!e.failed) item_types[id] = type;
        }
      } else if (box.type == Type("iloc")) {
        const int version = static_cast<int>(c.Take(1));
        c.Take(3);
        const int sizes_byte = static_cast<int>(c.Take(1));
        const int offset_size = sizes_byte >> 4, length_size = sizes_byte & 15;
        const int base_byte = static_cast<int>(c.Take(1));
        const int base_size = base_byte >> 4, index_size = version >= 1 ? base_byte & 15 : 0;
        const uint64_t count = c.Take(version < 2 ? 2 : 4);
        for (uint64_t i = 0; i < count && !c.failed; ++i) {
          const uint32_t id = static_cast<uint32_t>(c.Take(version < 2 ? 2 : 4));
          const int method = version >= 1 ? static_cast<int>(c.Take(2) & 15) : 0;
          c.Take(2);  // data reference index
          const uint64_t base = c.Take(base_size);
          const uint64_t extents = c.Take(2);
          for (uint64_t e = 0; e < extents && !c.failed; ++e) {
            c.Take(index_size);
            const uint64_t offset = c.Take(offset_size);
            const uint64_t length = c.Take(length_size);
            if (e == 0 && !c.failed) locations[id] = Location{method, base + offset, length};
          }
        }
      }
    }
    for (const auto& [id, type] : item_types) {
      if (type != Type("grid") && type != Type("iovl")) continue;
      const auto at = locations.find(id);
      if (at == locations.end()) continue;
      const Location& l = at->second;
      const uint8_t* from = l.method == 1 ? idat : l.method == 0 ? data : nullptr;
      const uint8_t* limit = l.method == 1 ? idat_end : data + size;
      if (!from || l.offset > static_cast<uint64_t>(limit - from)) continue;
      Cursor c{from + l.offset, l.length && l.length < static_cast<uint64_t>(limit - from - l.offset)
                                    ? from + l.offset + l.length
                                    : limit};
      c.Take(1);  // version
      const bool wide = (c.Take(1) & 1) != 0;
      c.Take(type == Type("grid") ? 2 : 8);  // rows and columns, or the fill colour
      CodedSize canvas{};
      canvas.width = static_cast<uint32_t>(c.Take(wide ? 4 : 2));
      canvas.height = static_cast<uint32_t>(c.Take(wide ? 4 : 2));
      if (!c.failed) sizes.push_back(canvas);
    }
  }
  return sizes;
}

}  // namespace velmora
