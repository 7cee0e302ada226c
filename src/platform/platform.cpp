#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace velmora::platform {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string Home() { return EnvOr("HOME", "/tmp"); }

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDate = 25569.0;
constexpr int64_t kFileTimeUnixOffset = 116444736000000000LL;  // 100 ns ticks 1601 -> 1970

void MakeFolders(const std::string& path) {
  std::string partial;
  for (size_t i = 0; i < path.size(); ++i) {
    partial += path[i];
    if ((path[i] == '/' && i > 0) || i + 1 == path.size()) mkdir(partial.c_str(), 0755);
  }
}

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

bool CopyFile(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  if (!in || !out) return false;
  out << in.rdbuf();
  return static_cast<bool>(out);
}

}  // namespace

std::string ErrnoText(int err) { return std::strerror(err); }

std::string LongPathOf(const std::string& path) {
  if (path.empty()) return "";
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramFolder() {
  const std::string p = ProgramPath();
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "./" : p.substr(0, slash + 1);
}

std::string ConfigFolder() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config") + "/velmora/"; }
std::string DataHome() { return EnvOr("XDG_DATA_HOME", Home() + "/.local/share"); }

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool IsWritableFolder(const std::string& path) { return FolderExists(path) && access(path.c_str(), W_OK) == 0; }

std::optional<FileInfo> LookUp(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileInfo{static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec), S_ISDIR(st.st_mode)};
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> out;
  struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return out;
  std::string base = folder;
  if (base.empty() || base.back() != '/') base += '/';
  while (dirent* e = readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool is_folder = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) is_folder = FolderExists(base + name);
    out.push_back(FolderEntry{name, is_folder});
  }
  return out;
}

double UnixToLocalDate(int64_t unix_seconds) {
  const time_t t = static_cast<time_t>(unix_seconds);
  struct tm local;
  localtime_r(&t, &local);
  // Local wall-clock seconds since the epoch, as the date value counts them.
  const int64_t local_seconds = unix_seconds + local.tm_gmtoff;
  return kUnixEpochDate + static_cast<double>(local_seconds) / 86400.0;
}

double PackedLocalDate(int64_t unix_seconds) {
  const time_t t = static_cast<time_t>(unix_seconds);
  struct tm local;
  localtime_r(&t, &local);
  int64_t local_seconds = unix_seconds + local.tm_gmtoff;
  local_seconds -= ((local_seconds % 2) + 2) % 2;  // the packed date keeps seconds / 2
  return kUnixEpochDate + static_cast<double>(local_seconds) / 86400.0;
}

namespace {
// Splits a date value into calendar fields (in the value's own clock).
struct tm CalendarOf(double date) {
  const double seconds = std::floor((date - kUnixEpochDate) * 86400.0 + 0.5);
  const time_t t = static_cast<time_t>(seconds);
  struct tm cal;
  gmtime_r(&t, &cal);
  return cal;
}
}  // namespace

std::string FormatLocalDate(double date) {
  const struct tm cal = CalendarOf(date);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &cal);
  return buf;
}

int64_t LocalDateToFileTime(double date) {
  struct tm cal = CalendarOf(date);
  cal.tm_isdst = -1;
  const time_t utc = mktime(&cal);  // calendar taken as local time
  return static_cast<int64_t>(utc) * 10000000LL + kFileTimeUnixOffset;
}

int64_t FileTimeToUnixNanos(int64_t file_time) { return (file_time - kFileTimeUnixOffset) * 100; }

void SetFileWriteTime(const std::string& path, int64_t file_time) {
  const int fd = open(path.c_str(), O_RDWR);
  if (fd < 0) throw std::runtime_error("Cannot open file \"" + path + "\". " + ErrnoText(errno));
  const int64_t nanos = FileTimeToUnixNanos(file_time);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(nanos / 1000000000LL);
  times[1].tv_nsec = static_cast<long>(nanos % 1000000000LL);
  if (times[1].tv_nsec < 0) {
    times[1].tv_nsec += 1000000000L;
    times[1].tv_sec -= 1;
  }
  const int rc = futimens(fd, times);
  const int err = errno;
  close(fd);
  if (rc != 0) throw std::runtime_error("Cannot set the date of \"" + path + "\". " + ErrnoText(err));
}

void MoveToTrash(const std::string& path) {
  const std::string absolute = LongPathOf(path);
  if (absolute.empty()) throw std::runtime_error("Cannot find \"" + path + "\"");
  const std::string trash = DataHome() + "/Trash";
  MakeFolders(trash + "/files");
  MakeFolders(trash + "/info");
  const size_t slash = absolute.rfind('/');
  const std::string name = absolute.substr(slash + 1);
  // Reserve a unique info file first: its O_EXCL creation is the lock.
  std::string stored = name;
  int fd = -1;
  for (int n = 1; n < 10000; ++n) {
    if (n > 1) stored = name + "." + std::to_string(n);
    fd = open((trash + "/info/" + stored + ".trashinfo").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0 || errno != EEXIST) break;
  }
  if (fd < 0) throw std::runtime_error("Cannot create the trash entry for \"" + path + "\". " + ErrnoText(errno));
  const time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S", &local);
  const std::string info = "[Trash Info]\nPath=" + UrlEncode(absolute) + "\nDeletionDate=" + when + "\n";
  const bool wrote = write(fd, info.data(), info.size()) == static_cast<ssize_t>(info.size());
  close(fd);
  const std::string info_path = trash + "/info/" + stored + ".trashinfo";
  const std::string target = trash + "/files/" + stored;
  if (wrote && rename(absolute.c_str(), target.c_str()) == 0) return;
  if (wrote && errno == EXDEV && CopyFile(absolute, target) && unlink(absolute.c_str()) == 0) return;
  const int err = errno;
  unlink(info_path.c_str());
  throw std::runtime_error("Cannot move \"" + path + "\" to the trash. " + ErrnoText(err));
}

}  // namespace velmora::platform

#include <sys/types.h>

namespace velmora::platform {

void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + "/." + name + ".velmora-XXXXXX";
  std::vector<char> templ(temp.begin(), temp.end());
  templ.push_back('\0');
  const int fd = mkstemp(templ.data());
  if (fd < 0) throw std::runtime_error("Cannot create file \"" + path + "\". " + ErrnoText(errno));
  temp.assign(templ.data());
  // New files get the usual permissions; a replaced file keeps its own.
  struct stat existing;
  mode_t mode;
  if (stat(path.c_str(), &existing) == 0) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  close(fd);
  try {
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      if (!out) throw std::runtime_error("Cannot create file \"" + path + "\". " + ErrnoText(errno));
      write(out);
      out.flush();
      if (!out) throw std::runtime_error("Cannot write file \"" + path + "\". " + ErrnoText(errno));
    }
    if (rename(temp.c_str(), path.c_str()) != 0)
      throw std::runtime_error("Cannot create file \"" + path + "\". " + ErrnoText(errno));
  } catch (...) {
    unlink(temp.c_str());
    throw;
  }
}

}  // namespace velmora::platform
