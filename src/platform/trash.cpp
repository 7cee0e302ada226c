// The freedesktop trash of the user. Nothing is removed before the trash
// holds a complete, synced copy.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <climits>
#include <cerrno>
#include <ctime>
#include <vector>

#include "base/paths.h"
#include "base/messages.h"
#include "platform/platform.h"
#include "platform/unique_fd.h"

namespace velmora::platform {
namespace {

std::string UrlEncode(const std::string& path) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies from onto a new file at to, checking every write, the flush and the
// size; keeps the mode and times. Returns 0 or the errno of the failure, in
// which case nothing is left at to. The copy is locked while it is made, so
// that a later run tells one left by a killed process.
int CopyVerified(const std::string& from, const std::string& to) {
  UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return errno;
  struct stat st;
  if (fstat(in.get(), &st) != 0) return errno;
  UniqueFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
  if (out.get() < 0) return errno;
  flock(out.get(), LOCK_EX | LOCK_NB);
  int err = 0;
  std::vector<char> buffer(1 << 20);
  off_t copied = 0;
  while (err == 0) {
    const ssize_t n = read(in.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    if (!WriteAll(out.get(), buffer.data(), static_cast<size_t>(n))) err = errno;
    copied += n;
  }
  struct stat written;
  if (err == 0 && fsync(out.get()) != 0) err = errno;
  if (err == 0 && (fstat(out.get(), &written) != 0 || written.st_size != st.st_size || copied != st.st_size))
    err = EIO;
  if (err == 0) {
    fchmod(out.get(), st.st_mode & 07777);
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(out.get(), times);
  }
  if (!out.Close() && err == 0) err = errno;
  if (err != 0) unlink(to.c_str());
  return err;
}

// A link across file systems: a new link with the same target.
int CopyLink(const std::string& from, const std::string& to) {
  std::vector<char> target(PATH_MAX + 1);
  const ssize_t n = readlink(from.c_str(), target.data(), target.size() - 1);
  if (n < 0) return errno;
  target[static_cast<size_t>(n)] = 0;
  return symlink(target.data(), to.c_str()) == 0 ? 0 : errno;
}

// Our copies in files/ left by a run killed while copying, and the
// .trashinfo each had reserved when no file of its name arrived: once per
// run, before the first copy.
void RemoveStaleCopies(const std::string& trash) {
  static std::once_flag once;
  std::call_once(once, [&] {
    // Only we write these, always under a lock: one nobody holds is stale.
    for (const std::string& temp : RemoveStaleTemporaries(trash + "/files", INT64_MAX)) {
      // ".NAME.velmora-XXXXXX" was to become NAME.
      const std::string stored = temp.substr(1, temp.size() - 1 - std::strlen(".velmora-XXXXXX"));
      struct stat st;
      if (lstat((trash + "/files/" + stored).c_str(), &st) != 0)
        unlink((trash + "/info/" + stored + ".trashinfo").c_str());
    }
  });
}

// Moves temp to its name in the same folder only when nothing has it.
int RenameNoReplace(const std::string& temp, const std::string& target) {
  if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without it: a second link, then the temporary's removed.
  if (link(temp.c_str(), target.c_str()) != 0) return errno;
  unlink(temp.c_str());
  return 0;
}

}  // namespace

void MoveToTrash(const std::string& path) {
  auto fail = [&](const std::string& reason) {
    throw Error(ErrorKind::kIo, Tr("Cannot move \"{1}\" to the trash: {2}", {path, reason}));
  };
  // The name the user chose: a link goes to the trash, never what it points at.
  const std::string absolute = AbsolutePath(path);
  struct stat own;
  if (absolute.empty() || lstat(absolute.c_str(), &own) != 0) fail(ErrnoText(errno ? errno : ENOENT));
  const std::string trash = DataHome() + "/Trash";
  try {
    // Private, as the desktop's own trash is: what was thrown away is
    // nobody else's to list or read.
    MakeFolders(DataHome());
    MakeFolders(trash, 0700);
    MakeFolders(trash + "/files", 0700);
    MakeFolders(trash + "/info", 0700);
  } catch (const Error& e) {
    fail(e.what());
  }
  const std::string name = FileNameOf(absolute);

  // The name is taken by creating its .trashinfo with O_EXCL; a name whose
  // file already sits in files/ (an orphan without info) is passed over.
  std::string stored, info_path;
  int fd = -1;
  for (int n = 1; n < 100000 && fd < 0; ++n) {
    stored = n == 1 ? name : name + "." + std::to_string(n);
    struct stat st;
    if (lstat((trash + "/files/" + stored).c_str(), &st) == 0) continue;
    info_path = trash + "/info/" + stored + ".trashinfo";
    fd = open(info_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) fail(ErrnoText(errno));
  }
  if (fd < 0) fail(Tr("no free name in the trash"));
  const time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &local);
  const std::string info = "[Trash Info]\nPath=" + UrlEncode(absolute) + "\nDeletionDate=" + when + "\n";
  const bool wrote = WriteAll(fd, info.data(), info.size()) && fsync(fd) == 0;
  int err = wrote ? 0 : errno;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    unlink(info_path.c_str());
    fail(ErrnoText(err));
  }

  const std::string target = trash + "/files/" + stored;
  if (rename(absolute.c_str(), target.c_str()) == 0) return;
  err = errno;
  if (err != EXDEV) {
    unlink(info_path.c_str());
    fail(ErrnoText(err));
  }
  if (S_ISLNK(own.st_mode)) {
    err = CopyLink(absolute, target);
  } else {
    // Whole or not at all under its name: copied and synced under a hidden
    // name, then named.
    RemoveStaleCopies(trash);
    const std::string temp = trash + "/files/" + TemporaryNameFor(stored);
    err = CopyVerified(absolute, temp);
    if (err == 0) {
      err = RenameNoReplace(temp, target);
      if (err != 0) unlink(temp.c_str());
    }
    if (err == 0) {
      const UniqueFd folder(open((trash + "/files").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (folder.valid()) fsync(folder.get());
    }
  }
  if (err == 0) {
    if (unlink(absolute.c_str()) == 0) return;
    err = errno;
    unlink(target.c_str());  // the original stays; the copy must not linger as a second one
  }
  unlink(info_path.c_str());
  fail(ErrnoText(err));
}

}  // namespace velmora::platform
