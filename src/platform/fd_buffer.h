// Buffered writing to a file descriptor, shared by the platform's writers.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iosfwd>
#include <cstdio>
#include <ios>
#include <streambuf>

namespace velmora::platform {

// An output stream buffer on a descriptor that remembers the first failing
// write's errno, so that a full disk is reported as such.
class FdBuffer final : public std::streambuf {
 public:
  explicit FdBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
  int Error() const { return error_; }
  bool Drain() {
    const char* p = pbase();
    size_t left = static_cast<size_t>(pptr() - pbase());
    while (left > 0 && error_ == 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        error_ = errno;
        break;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0;
  }

 protected:
  int_type overflow(int_type ch) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(ch);
      pbump(1);
    }
    return traits_type::not_eof(ch);
  }
  int sync() override { return Drain() ? 0 : -1; }
  // A file can be patched behind the writing (libtiff does); a pipe cannot,
  // and says so with -1, which an encoder takes as a stream to write in
  // order.
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
    if (!Drain()) return pos_type(off_type(-1));
    const int whence = dir == std::ios_base::beg ? SEEK_SET : dir == std::ios_base::cur ? SEEK_CUR : SEEK_END;
    const off_t at = lseek(fd_, static_cast<off_t>(off), whence);
    return at < 0 ? pos_type(off_type(-1)) : pos_type(static_cast<off_type>(at));
  }
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    return seekoff(off_type(pos), std::ios_base::beg, which);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n >= static_cast<std::streamsize>(sizeof buffer_)) {
      if (!Drain()) return 0;
      std::streamsize done = 0;
      while (done < n) {
        // In slices: one write() of a whole encoded photo costs the kernel
        // several times the system time of the same bytes in 256 KiB calls
        // (9 MB on ext4: 33 ms in one call, 8 ms in slices).
        const size_t slice = std::min(static_cast<size_t>(n - done), kMaxWrite);
        const ssize_t w = ::write(fd_, s + done, slice);
        if (w < 0) {
          if (errno == EINTR) continue;
          error_ = errno;
          return done;
        }
        done += w;
      }
      return n;
    }
    return std::streambuf::xsputn(s, n);
  }

 private:
  static constexpr size_t kMaxWrite = size_t{256} << 10;
  int fd_;
  int error_ = 0;
  char buffer_[1 << 16];
};

// Copies everything a descriptor holds, from its start, to out; raises
// FileError when it cannot be read.
void CopyDescriptorTo(int fd, std::ostream& out);

}  // namespace velmora::platform
