// Bounds-checked reading of a decoder's input held in memory. Every read past
// the end raises the decoder's truncation error instead of touching memory
// the file does not have, so a decoder written on top of it cannot overrun.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/error.h"
#include "base/messages.h"
#include "image/color.h"

namespace velmora {

class ByteReader {
 public:
  // who: the decoder's name as its messages start ("Targa image error").
  ByteReader(const uint8_t* data, size_t size, const char* who) : data_(data), size_(size), who_(who) {}

  size_t Size() const { return size_; }
  size_t Position() const { return pos_; }
  size_t Remaining() const { return size_ - pos_; }
  bool AtEnd() const { return pos_ >= size_; }
  const uint8_t* Data() const { return data_; }
  const char* Who() const { return who_; }

  void Seek(uint64_t position) {
    if (position > size_) Truncated();
    pos_ = static_cast<size_t>(position);
  }
  void Skip(uint64_t count) {
    if (count > Remaining()) Truncated();
    pos_ += static_cast<size_t>(count);
  }
  // The next count bytes, which stay valid as long as the data does.
  const uint8_t* Take(uint64_t count) {
    if (count > Remaining()) Truncated();
    const uint8_t* p = data_ + pos_;
    pos_ += static_cast<size_t>(count);
    return p;
  }
  // Whether count bytes are left, without reading them.
  bool Has(uint64_t count) const { return count <= Remaining(); }

  uint8_t U8() { return *Take(1); }
  int8_t S8() { return static_cast<int8_t>(U8()); }
  uint16_t U16Le() {
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
  }
  uint16_t U16Be() {
    const uint8_t* p = Take(2);
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
  }
  int16_t S16Be() { return static_cast<int16_t>(U16Be()); }
  int16_t S16Le() { return static_cast<int16_t>(U16Le()); }
  uint32_t U32Le() {
    const uint8_t* p = Take(4);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
  }
  uint32_t U32Be() {
    const uint8_t* p = Take(4);
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
  }
  int32_t S32Le() { return static_cast<int32_t>(U32Le()); }
  int32_t S32Be() { return static_cast<int32_t>(U32Be()); }

  [[noreturn]] void Truncated() const {
    throw Error(ErrorKind::kTruncated, Tr("{1}: the file ends before the picture does", {Tr(who_)}));
  }
  [[noreturn]] void Invalid(const std::string& what) const {
    throw Error(ErrorKind::kInvalidData, std::string(Tr(who_)) + ": " + what);
  }
  [[noreturn]] void Unsupported(const std::string& what) const {
    throw Error(ErrorKind::kUnsupported, std::string(Tr(who_)) + ": " + what);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  const char* who_;
};

// A sample of maxval scaled to 0..255, rounded.
inline uint8_t ScaleSample(uint32_t value, uint32_t maxval) {
  if (value >= maxval) return 255;
  return static_cast<uint8_t>((static_cast<uint64_t>(value) * 255 + maxval / 2) / maxval);
}

}  // namespace velmora
