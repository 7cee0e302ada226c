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

constexpr const char* kCannotRead = N_("Cannot read the temporary file: {1}");

}  // namespace

std::string TemporaryFolder() {
  const char* v = std::getenv("TMPDIR");
  return v && *v ? v : "/tmp";
}

SpoolFile::SpoolFile(const std::string& near) {
  if (!near.empty()) fd_ = open(near.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  const std::string folder = fd_ >= 0 ? near : TemporaryFolder();
  folder_ = folder;
  if (fd_ < 0) fd_ = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    // No O_TMPFILE on this file system: a named file, unlinked at once.
    std::string name = folder + "/velmora-spool-XXXXXX";
    std::vector<char> templ(name.begin(), name.end());
    templ.push_back('\0');
    fd_ = mkstemp(templ.data());
    if (fd_ >= 0) unlink(templ.data());
  }
  if (fd_ < 0) throw Error(ErrorKind::kIo, Tr("Cannot create a temporary file in \"{1}\": {2}", {folder, ErrnoText(errno)}));
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
    throw Error(ErrorKind::kIo, Tr("Cannot write the temporary file in \"{1}\": {2}", {folder_, ErrnoText(buffer_->Error())}));
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
    if (r <= 0) throw Error(ErrorKind::kIo, Tr(kCannotRead, {ErrnoText(r < 0 ? errno : EIO)}));
    done += static_cast<size_t>(r);
  }
}

void SpoolFile::WriteAt(uint64_t offset, const uint8_t* src, size_t n) {
  Check();
  size_t done = 0;
  while (done < n) {
    const ssize_t w = pwrite(fd_, src + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) throw Error(ErrorKind::kIo, Tr("Cannot write the temporary file in \"{1}\": {2}", {folder_, ErrnoText(errno)}));
    done += static_cast<size_t>(w);
  }
}

void SpoolFile::CopyTo(std::ostream& out) {
  Check();
  CopyDescriptorTo(fd_, out);
}

void CopyDescriptorTo(int fd, std::ostream& out) {
  std::vector<char> chunk(1 << 20);
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, chunk.data(), chunk.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error(ErrorKind::kIo, Tr(kCannotRead, {ErrnoText(errno)}));
    if (n == 0) return;
    out.write(chunk.data(), n);
    at += n;
  }
}

}  // namespace velmora::platform
