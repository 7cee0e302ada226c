#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "platform/fd_buffer.h"
#include "base/messages.h"
#include "platform/platform.h"

namespace velmora::platform {
namespace {

std::string TempFolder() {
  const char* v = std::getenv("TMPDIR");
  return v && *v ? v : "/tmp";
}

}  // namespace

SpoolFile::SpoolFile() {
  const std::string folder = TempFolder();
  fd_ = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    // No O_TMPFILE on this file system: a named file, unlinked at once.
    std::string name = folder + "/velmora-spool-XXXXXX";
    std::vector<char> templ(name.begin(), name.end());
    templ.push_back('\0');
    fd_ = mkstemp(templ.data());
    if (fd_ >= 0) unlink(templ.data());
  }
  if (fd_ < 0) throw FileError(Tr("Cannot create a temporary file in \"{1}\": {2}", {folder, ErrnoText(errno)}));
  buffer_ = std::make_unique<FdBuffer>(fd_);
  out_ = std::make_unique<std::ostream>(buffer_.get());
}

SpoolFile::~SpoolFile() {
  out_.reset();
  buffer_.reset();
  if (fd_ >= 0) close(fd_);
}

std::ostream& SpoolFile::Out() { return *out_; }

void SpoolFile::Check() {
  out_->flush();
  if (buffer_->Error())
    throw FileError(Tr("Cannot write the temporary file in \"{1}\": {2}", {TempFolder(), ErrnoText(buffer_->Error())}));
}

uint64_t SpoolFile::Size() {
  Check();
  const off_t end = lseek(fd_, 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

void SpoolFile::ReadAt(uint64_t offset, uint8_t* dst, size_t n) {
  Check();
  size_t done = 0;
  while (done < n) {
    const ssize_t r = pread(fd_, dst + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw FileError(Tr("Cannot read the temporary file: {1}", {ErrnoText(r < 0 ? errno : EIO)}));
    done += static_cast<size_t>(r);
  }
}

void SpoolFile::WriteAt(uint64_t offset, const uint8_t* src, size_t n) {
  Check();
  size_t done = 0;
  while (done < n) {
    const ssize_t w = pwrite(fd_, src + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) throw FileError(Tr("Cannot write the temporary file in \"{1}\": {2}", {TempFolder(), ErrnoText(errno)}));
    done += static_cast<size_t>(w);
  }
}

void SpoolFile::CopyTo(std::ostream& out) {
  const uint64_t size = Size();
  std::vector<uint8_t> chunk(1 << 20);
  for (uint64_t at = 0; at < size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), size - at));
    ReadAt(at, chunk.data(), n);
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
    at += n;
  }
}

}  // namespace velmora::platform
