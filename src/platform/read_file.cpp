#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"
#include "platform/unique_fd.h"
#include "base/messages.h"

namespace velmora::platform {
namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return Tr("Cannot read \"{1}\": it is a folder, not a picture file");
  if (S_ISFIFO(mode)) return Tr("Cannot read \"{1}\": it is a FIFO, not a picture file");
  if (S_ISCHR(mode)) return Tr("Cannot read \"{1}\": it is a character device, not a picture file");
  if (S_ISBLK(mode)) return Tr("Cannot read \"{1}\": it is a block device, not a picture file");
  if (S_ISSOCK(mode)) return Tr("Cannot read \"{1}\": it is a socket, not a picture file");
  return Tr("Cannot read \"{1}\": it is not a regular file, not a picture file");
}

}  // namespace

std::vector<uint8_t> ReadRegularFile(const std::string& path, int64_t max_bytes) {
  const UniqueFd owned(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!owned.valid()) throw Error(ErrorKind::kIo, Tr("Cannot open file \"{1}\": {2}", {path, ErrnoText(errno)}));
  const int fd = owned.get();
  struct stat st;
  if (fstat(fd, &st) != 0) throw Error(ErrorKind::kIo, Tr("Cannot open file \"{1}\": {2}", {path, ErrnoText(errno)}));
  if (!S_ISREG(st.st_mode))
    throw Error(ErrorKind::kIo, FillPlaceholders(KindOf(st.st_mode), {path}));
  if (st.st_size > max_bytes)
    throw Error(ErrorKind::kIo, Tr("Cannot read \"{1}\": its {2} bytes exceed the limit of {3} bytes for an input file",
                       {path, std::to_string(st.st_size), std::to_string(max_bytes)}));
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Error(ErrorKind::kIo, Tr("Cannot read file \"{1}\": {2}", {path, ErrnoText(errno)}));
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  return data;
}

}  // namespace velmora::platform
