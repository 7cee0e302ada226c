// Writing a file so that nothing the user had is ever damaged: a temporary
// beside the target, synced, then renamed over it.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ostream>
#include <random>
#include <streambuf>
#include <utility>

#include "base/messages.h"
#include "base/paths.h"
#include "platform/fd_buffer.h"
#include "platform/platform.h"
#include "platform/unique_fd.h"

namespace velmora::platform {
namespace {

constexpr const char* kTempMark = ".velmora-";
constexpr size_t kRandomChars = 6;
constexpr size_t kNameMax = 255;

// Temporaries being written, for the signal handler: fixed storage, no locks.
constexpr int kSlots = 64;
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 holds a path
  char path[PATH_MAX];
};
Slot g_slots[kSlots];

class TemporaryGuard {
 public:
  TemporaryGuard() = default;
  ~TemporaryGuard() { Clear(); }
  TemporaryGuard(const TemporaryGuard&) = delete;
  TemporaryGuard& operator=(const TemporaryGuard&) = delete;

  void Set(const std::string& path) {
    Clear();
    if (path.size() >= PATH_MAX) return;
    for (int i = 0; i < kSlots; ++i) {
      int expected = 0;
      if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(2, std::memory_order_release);
        slot_ = i;
        return;
      }
    }
  }
  void Clear() {
    if (slot_ >= 0) g_slots[slot_].state.store(0, std::memory_order_release);
    slot_ = -1;
  }

 private:
  int slot_ = -1;
};

// ".NAME.velmora-XXXXXX", the name cut (on a character boundary) so that the
// whole fits wherever the target's own name fits.
std::string TemporaryName(const std::string& name) {
  const size_t room = kNameMax - 1 - std::strlen(kTempMark) - kRandomChars;
  std::string part = name;
  if (part.size() > room) {
    size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(part[cut]) & 0xC0) == 0x80) --cut;
    part.resize(cut);
  }
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static const char* kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string out = "." + part + kTempMark;
  for (size_t i = 0; i < kRandomChars; ++i) out += kChars[random() % 62];
  return out;
}

void SyncFolder(const std::string& folder) {
  const UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Makes the rename durable; a folder that cannot be synced is no error.
  if (fd.valid()) fsync(fd.get());
}

}  // namespace

std::string TemporaryNameFor(const std::string& name) { return TemporaryName(name); }

bool IsOurTemporary(const std::string& file_name) {
  const size_t mark = std::strlen(kTempMark);
  if (file_name.size() < 1 + mark + kRandomChars || file_name[0] != '.') return false;
  const size_t at = file_name.size() - kRandomChars - mark;
  if (file_name.compare(at, mark, kTempMark) != 0) return false;
  for (size_t i = file_name.size() - kRandomChars; i < file_name.size(); ++i) {
    const char c = file_name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

std::vector<std::string> RemoveStaleTemporaries(const std::string& folder, int64_t before) {
  std::vector<std::string> removed;
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const FolderEntry& entry : ListFolder(base)) {
    if (entry.folder || !IsOurTemporary(entry.name)) continue;
    const std::string path = base + entry.name;
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_mtime >= before) continue;
    // A writer still alive holds its lock.
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (unlink(path.c_str()) == 0) removed.push_back(entry.name);
  }
  return removed;
}

void RemoveTemporariesNow() noexcept {
  for (Slot& slot : g_slots)
    if (slot.state.load(std::memory_order_acquire) == 2) unlink(slot.path);
}

namespace {

constexpr const char* kCannotCreate = N_("Cannot create file \"{1}\": {2}");
constexpr const char* kCannotWrite = N_("Cannot write file \"{1}\": {2}");

// What is known of a target before anything is written.
struct Target {
  std::string folder, name;
  bool replacing = false;
  mode_t keep_mode = 0;
};

Target CheckTarget(const std::string& path) {
  const std::string parent = FolderOf(path);
  Target t;
  t.folder = parent.empty() ? "." : parent.size() == 1 ? parent : parent.substr(0, parent.size() - 1);
  t.name = FileNameOf(path);
  struct stat existing;
  if (stat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) throw Error(ErrorKind::kIo, Tr("Cannot create file \"{1}\": it is a folder", {path}));
    if (!S_ISREG(existing.st_mode))
      throw Error(ErrorKind::kIo, Tr("Cannot create file \"{1}\": a special file of that name exists", {path}));
    // A file its owner made read-only is not replaced behind their back (root
    // would pass an access() test, so the mode bits decide too).
    if ((existing.st_mode & 0222) == 0 || (access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)))
      throw Error(ErrorKind::kIo, Tr("Cannot replace \"{1}\": the file is read-only", {path}));
    t.replacing = true;
    t.keep_mode = existing.st_mode & 07777;
  }
  return t;
}

// Makes a temporary beside the target with make(temp path), retrying names
// taken; returns its path, or "" with errno set by the failing make.
std::string MakeTemporary(const Target& t, TemporaryGuard& guard, const std::function<bool(const std::string&)>& make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = t.folder + "/" + TemporaryName(t.name);
    // Registered before it exists, so that a signal arriving right after the
    // file appears still finds it.
    guard.Set(temp);
    if (make(temp)) return temp;
    const int err = errno;
    guard.Clear();
    errno = err;
    if (err != EEXIST) break;
  }
  return {};
}

// Runs write() into fd and syncs it. Returns 0, or the errno of the disk's
// refusal, which is the reason worth telling even when write() then threw;
// any other exception of write() passes through.
int WriteAndSync(int fd, const std::function<void(std::ostream&)>& write) {
  FdBuffer buffer(fd);
  std::ostream out(&buffer);
  try {
    write(out);
    out.flush();
  } catch (...) {
    if (buffer.Error()) return buffer.Error();
    throw;
  }
  if (buffer.Error() || !out) return buffer.Error() ? buffer.Error() : EIO;
  return fsync(fd) == 0 ? 0 : errno;
}

void RenameOver(const std::string& temp, const std::string& path, const Target& t) {
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    throw Error(ErrorKind::kIo, Tr(kCannotCreate, {path, ErrnoText(err)}));
  }
  SyncFolder(t.folder);
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  const Target target = CheckTarget(path);
  UniqueFd fd;
  TemporaryGuard guard;
  const std::string temp = MakeTemporary(target, guard, [&](const std::string& name) {
    // 0666 lets the umask decide a new file's permissions, as for any program.
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    return fd.valid();
  });
  // Held as long as this process lives: a later run tells a temporary left
  // by a killed one from one being written.
  if (fd.valid()) flock(fd.get(), LOCK_EX | LOCK_NB);
  if (!fd.valid()) throw Error(ErrorKind::kIo, Tr(kCannotCreate, {path, ErrnoText(errno)}));
  auto fail = [&](const char* what, int err) {
    fd.Close();
    unlink(temp.c_str());
    throw Error(ErrorKind::kIo, Tr(what, {path, ErrnoText(err)}));
  };
  if (target.replacing && fchmod(fd.get(), target.keep_mode) != 0) fail(kCannotCreate, errno);
  int err = 0;
  try {
    err = WriteAndSync(fd.get(), write);
  } catch (...) {
    fd.Close();
    unlink(temp.c_str());
    throw;
  }
  if (err) fail(kCannotWrite, err);
  if (!fd.Close()) {
    const int err = errno;
    unlink(temp.c_str());
    throw Error(ErrorKind::kIo, Tr(kCannotWrite, {path, ErrnoText(err)}));
  }
  RenameOver(temp, path, target);
}

PendingFile::PendingFile(const std::string& folder, uint64_t room) {
  // 0666 and the umask, as WriteFileAtomically's temporaries; readable back
  // for a commit that must copy it.
  fd_ = open(folder.c_str(), O_RDWR | O_TMPFILE | O_CLOEXEC, 0666);
  // Its name, once linked, is locked as WriteFileAtomically's temporaries are.
  if (fd_ >= 0) flock(fd_, LOCK_EX | LOCK_NB);
  struct stat st;
  struct statvfs fs;
  if (fd_ >= 0 && fstat(fd_, &st) == 0 && fstatvfs(fd_, &fs) == 0 &&
      static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize >= room) {
    device_ = st.st_dev;
  } else {
    Drop();
  }
}

PendingFile::~PendingFile() { Drop(); }

PendingFile::PendingFile(PendingFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)), device_(other.device_) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
  if (this != &other) {
    Drop();
    fd_ = std::exchange(other.fd_, -1);
    device_ = other.device_;
  }
  return *this;
}

void PendingFile::Drop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool PendingFile::Write(const std::function<void(std::ostream&)>& write) {
  if (fd_ < 0) return false;
  // Synced here, on the worker, so that naming it later is all the commit does.
  int err = 0;
  try {
    err = WriteAndSync(fd_, write);
  } catch (...) {
    Drop();
    throw;
  }
  if (err) Drop();
  return err == 0;
}

void PendingFile::CopyTo(std::ostream& out) const { CopyDescriptorTo(fd_, out); }

void CommitFileAtomically(const std::string& path, PendingFile& file) {
  const Target target = CheckTarget(path);
  if (!file.Valid()) throw Error(ErrorKind::kIo, Tr(kCannotWrite, {path, ErrnoText(EBADF)}));
  struct stat folder;
  if (stat(target.folder.c_str(), &folder) == 0 && folder.st_dev == file.device_) {
    if (target.replacing && fchmod(file.fd_, target.keep_mode) != 0)
      throw Error(ErrorKind::kIo, Tr(kCannotCreate, {path, ErrnoText(errno)}));
    // An unnamed file gets a name through its descriptor's entry in /proc
    // (linkat's AT_EMPTY_PATH would need a privilege).
    const std::string self = "/proc/self/fd/" + std::to_string(file.fd_);
    TemporaryGuard guard;
    const std::string temp = MakeTemporary(target, guard, [&](const std::string& name) {
      return linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (!temp.empty()) {
      RenameOver(temp, path, target);
      file.Drop();
      return;
    }
  }
  // Another file system, a bind mount or no /proc: the bytes are copied, and
  // any failure is then the target's own.
  WriteFileAtomically(path, [&](std::ostream& out) { CopyDescriptorTo(file.fd_, out); });
  file.Drop();
}

}  // namespace velmora::platform
