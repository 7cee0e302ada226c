// An input stream over bytes in memory, without copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <streambuf>

namespace velmora {

class MemoryStreamBuf : public std::streambuf {
 public:
  MemoryStreamBuf(const uint8_t* data, size_t size) {
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }

 protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    char* base = dir == std::ios_base::beg ? eback() : dir == std::ios_base::cur ? gptr() : egptr();
    if (off < eback() - base || off > egptr() - base) return pos_type(off_type(-1));
    setg(eback(), base + off, egptr());
    return pos_type(gptr() - eback());
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    return seekoff(off_type(pos), std::ios_base::beg, which);
  }
};

class MemoryInput : public std::istream {
 public:
  MemoryInput(const uint8_t* data, size_t size) : std::istream(nullptr), buffer_(data, size) { rdbuf(&buffer_); }

 private:
  MemoryStreamBuf buffer_;
};

}  // namespace velmora
