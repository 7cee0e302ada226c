// An output stream that collects what is written into a string. Unlike
// std::ostringstream it appends a large write in one piece, so an encoded
// file of many megabytes is copied once into a buffer of its own size
// instead of through a chain of doublings, each faulting in fresh pages.
#pragma once

#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>

namespace velmora {

class StringSinkBuf : public std::streambuf {
 public:
  StringSinkBuf() { setp(small_, small_ + sizeof small_); }
  std::string Take() {
    Flush();
    return std::move(bytes_);
  }

 protected:
  // Small writes gather in a buffer of our own, so single bytes cost no call.
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n <= epptr() - pptr()) {
      std::memcpy(pptr(), s, static_cast<size_t>(n));
      pbump(static_cast<int>(n));
    } else {
      Flush();
      bytes_.append(s, static_cast<size_t>(n));
    }
    return n;
  }
  int_type overflow(int_type c) override {
    Flush();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    Flush();
    return 0;
  }

 private:
  void Flush() {
    bytes_.append(pbase(), static_cast<size_t>(pptr() - pbase()));
    setp(small_, small_ + sizeof small_);
  }
  std::string bytes_;
  char small_[4096];
};

class StringSink : public std::ostream {
 public:
  StringSink() : std::ostream(nullptr) { rdbuf(&buffer_); }
  // The bytes written so far; the sink is empty afterwards.
  std::string Take() { return buffer_.Take(); }

 private:
  StringSinkBuf buffer_;
};

}  // namespace velmora
