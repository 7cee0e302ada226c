#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace velmora::platform {
namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

std::vector<uint8_t> ReadRegularFile(const std::string& path, int64_t max_bytes) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) throw FileError("Cannot open file \"" + path + "\": " + ErrnoText(errno));
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  struct stat st;
  if (fstat(fd, &st) != 0) throw FileError("Cannot open file \"" + path + "\": " + ErrnoText(errno));
  if (!S_ISREG(st.st_mode))
    throw FileError("Cannot read \"" + path + "\": it is " + KindOf(st.st_mode) + ", not a picture file");
  if (st.st_size > max_bytes)
    throw FileError("Cannot read \"" + path + "\": its " + std::to_string(st.st_size) +
                    " bytes exceed the limit of " + std::to_string(max_bytes) + " bytes for an input file");
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = read(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw FileError("Cannot read file \"" + path + "\": " + ErrnoText(errno));
    if (n == 0) break;  // the file shrank while being read
    done += static_cast<size_t>(n);
  }
  data.resize(done);
  return data;
}

}  // namespace velmora::platform
