// An output stream that collects what is written into a string. Unlike
// std::ostringstream it appends a large write in one piece, so an encoded
// file of many megabytes is copied once into a buffer of its own size
// instead of through a chain of doublings, each faulting in fresh pages.
#pragma once

#include <algorithm>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace velmora {

class StringSinkBuf : public std::streambuf {
 public:
  // Writes into spare's room (its content is dropped).
  explicit StringSinkBuf(std::string spare = {}) : bytes_(std::move(spare)) {
    bytes_.clear();
    setp(small_, small_ + sizeof small_);
  }
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
  // A string given in has its room reused (its content is dropped), so that
  // files encoded one after another need not fault in fresh memory each.
  explicit StringSink(std::string spare = {}) : std::ostream(nullptr), buffer_(std::move(spare)) { rdbuf(&buffer_); }
  // The bytes written so far; the sink is empty afterwards.
  std::string Take() { return buffer_.Take(); }

 private:
  StringSinkBuf buffer_;
};

// Strings whose room is kept for the next file, shared by the threads of a
// batch: a worker takes one, the thread that writes the file gives it back.
class SpareStrings {
 public:
  // A kept string, or a new one with the room of the largest given back (so
  // it does not grow through a chain of doublings, each copied).
  std::string Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s;
    if (spare_.empty()) {
      s.reserve(largest_);
    } else {
      s = std::move(spare_.back());
      spare_.pop_back();
    }
    return s;
  }
  void Give(std::string s) {
    std::lock_guard<std::mutex> lock(mutex_);
    largest_ = std::max(largest_, s.capacity());
    if (spare_.size() < kKept) spare_.push_back(std::move(s));
  }
  // Frees the room kept.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    spare_.clear();
    spare_.shrink_to_fit();
    largest_ = 0;
  }

 private:
  static constexpr size_t kKept = 16;
  std::mutex mutex_;
  std::vector<std::string> spare_;
  size_t largest_ = 0;
};

}  // namespace velmora
