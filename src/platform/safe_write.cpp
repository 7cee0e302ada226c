// Writing a file so that nothing the user had is ever damaged: a temporary
// beside the target, synced, then renamed over it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ostream>
#include <random>
#include <streambuf>

#include "base/paths.h"
#include "base/messages.h"
#include "platform/fd_buffer.h"
#include "platform/unique_fd.h"
#include "platform/platform.h"

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

void RemoveTemporariesNow() noexcept {
  for (Slot& slot : g_slots)
    if (slot.state.load(std::memory_order_acquire) == 2) unlink(slot.path);
}

constexpr const char* kCannotCreate = N_("Cannot create file \"{1}\": {2}");
constexpr const char* kCannotWrite = N_("Cannot write file \"{1}\": {2}");

void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  const std::string parent = FolderOf(path);
  const std::string folder = parent.empty() ? "." : parent.size() == 1 ? parent : parent.substr(0, parent.size() - 1);
  const std::string name = FileNameOf(path);

  struct stat existing;
  mode_t keep_mode = 0;
  bool replacing = false;
  if (stat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) throw FileError(Tr("Cannot create file \"{1}\": it is a folder", {path}));
    if (!S_ISREG(existing.st_mode))
      throw FileError(Tr("Cannot create file \"{1}\": a special file of that name exists", {path}));
    // A file its owner made read-only is not replaced behind their back (root
    // would pass an access() test, so the mode bits decide too).
    if ((existing.st_mode & 0222) == 0 || (access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)))
      throw FileError(Tr("Cannot replace \"{1}\": the file is read-only", {path}));
    replacing = true;
    keep_mode = existing.st_mode & 07777;
  }

  std::string temp;
  UniqueFd fd;
  TemporaryGuard guard;
  for (int attempt = 0; attempt < 100 && !fd.valid(); ++attempt) {
    temp = folder + "/" + TemporaryName(name);
    // Registered before it exists, so that a signal arriving right after the
    // file appears still finds it.
    guard.Set(temp);
    // 0666 lets the umask decide a new file's permissions, as for any program.
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (!fd.valid()) {
      const int err = errno;
      guard.Clear();
      errno = err;
      if (err != EEXIST) break;
    }
  }
  if (!fd.valid()) throw FileError(Tr(kCannotCreate, {path, ErrnoText(errno)}));
  auto fail = [&](const char* what, int err) {
    fd.Close();
    unlink(temp.c_str());
    throw FileError(Tr(what, {path, ErrnoText(err)}));
  };
  if (replacing && fchmod(fd.get(), keep_mode) != 0) fail(kCannotCreate, errno);
  FdBuffer buffer(fd.get());
  {
    std::ostream out(&buffer);
    try {
      write(out);
      out.flush();
    } catch (...) {
      // The disk's own reason is the one worth telling.
      if (buffer.Error()) fail(kCannotWrite, buffer.Error());
      fd.Close();
      unlink(temp.c_str());
      throw;
    }
    if (buffer.Error() || !out) fail(kCannotWrite, buffer.Error() ? buffer.Error() : EIO);
  }
  if (fsync(fd.get()) != 0) fail(kCannotWrite, errno);
  if (!fd.Close()) {
    const int err = errno;
    unlink(temp.c_str());
    throw FileError(Tr(kCannotWrite, {path, ErrnoText(err)}));
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    throw FileError(Tr(kCannotCreate, {path, ErrnoText(err)}));
  }
  SyncFolder(folder);
}

}  // namespace velmora::platform
