#include "platform/platform.h"

#include "base/paths.h"
#include "base/text.h"
#include "base/messages.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>

namespace velmora::platform {
namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string Home() { return EnvOr("HOME", "/tmp"); }

// Days from 1899-12-30 to 1970-01-01.
constexpr double kUnixEpochDate = 25569.0;
constexpr int64_t kTicksPerSecond = 10000000;                   // file time ticks are 100 ns
constexpr int64_t kFileTimeUnixOffset = 11644473600LL * kTicksPerSecond;  // 1601 -> 1970

// Local wall-clock seconds since the epoch of a UTC instant.
int64_t LocalSeconds(int64_t unix_seconds) {
  const time_t t = static_cast<time_t>(unix_seconds);
  struct tm local;
  if (!localtime_r(&t, &local)) return unix_seconds;
  return unix_seconds + local.tm_gmtoff;
}

// Whole seconds of a date value (in the value's own clock) since 1970.
int64_t DateSeconds(double date) { return static_cast<int64_t>(std::floor((date - kUnixEpochDate) * 86400.0 + 0.5)); }

}  // namespace

std::string ErrnoText(int err) { return SystemErrorText(err); }

std::string AbsolutePath(const std::string& path) {
  std::string joined = path;
  if (joined.empty() || joined[0] != '/') {
    std::unique_ptr<char, decltype(&std::free)> here(getcwd(nullptr, 0), &std::free);
    if (!here) return "";
    joined = std::string(here.get()) + "/" + joined;
  }
  // Lexically, as the user named it: a link keeps its own name and folder.
  std::vector<std::string> parts;
  for (size_t start = 0; start <= joined.size();) {
    size_t end = joined.find('/', start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const auto& part : parts) out += "/" + part;
  return out.empty() ? "/" : out;
}

std::string LongPathOf(const std::string& path) {
  if (path.empty()) return "";
  const std::string absolute = AbsolutePath(path);
  struct stat st;
  return !absolute.empty() && lstat(absolute.c_str(), &st) == 0 ? absolute : std::string();
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::string ProgramFolder() {
  const std::string folder = FolderOf(ProgramPath());
  return folder.empty() ? "./" : folder;
}

std::string ConfigFolder() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config") + "/velmora/"; }
std::string DataHome() { return EnvOr("XDG_DATA_HOME", Home() + "/.local/share"); }

std::vector<uint8_t> StandardCmykProfile() {
  std::vector<std::string> candidates = {"/usr/share/color/icc/ghostscript/default_cmyk.icc",
                                         "/usr/share/color/icc/ghostscript/ps_cmyk.icc"};
  if (const char* chosen = std::getenv("VELMORA_CMYK_PROFILE"); chosen && *chosen) candidates.insert(candidates.begin(), chosen);
  for (const std::string& path : candidates) {
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A profile is small; anything else there is not one.
    if (bytes.size() >= 132 && bytes.size() <= (16u << 20)) return bytes;
  }
  return {};
}

std::string PicturesFolder() {
  const std::string home = Home();
  std::ifstream dirs(EnvOr("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs");
  for (std::string line; std::getline(dirs, line);) {
    if (line.rfind("XDG_PICTURES_DIR=", 0) != 0) continue;
    std::string value = line.substr(17);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value != home && value != home + "/" && FolderExists(value))
      return value.back() == '/' ? value : value + "/";
  }
  if (FolderExists(home + "/Pictures")) return home + "/Pictures/";
  return home + "/";
}

int64_t DefaultMemoryLimit() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  int64_t most = pages > 0 && page > 0 ? static_cast<int64_t>(pages) * page : int64_t{8} << 30;
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit {};
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      most = std::min<int64_t>(most, static_cast<int64_t>(limit.rlim_cur));
  }
  return most / 4 * 3;
}

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

bool IsSystemFolder(const std::string& path) {
  const std::string folder = path.empty() || path.back() == '/' ? path : path + "/";
  for (const char* prefix : {"/usr/", "/opt/", "/bin/", "/sbin/"})
    if (folder.compare(0, std::char_traits<char>::length(prefix), prefix) == 0) return true;
  // A package's layout under another root (dpkg --root, a chroot seen from outside).
  for (const char* inside : {"/usr/bin/", "/usr/sbin/", "/usr/games/", "/usr/local/bin/"})
    if (folder.size() >= std::char_traits<char>::length(inside) &&
        folder.compare(folder.size() - std::char_traits<char>::length(inside), std::string::npos, inside) == 0)
      return true;
  return false;
}

bool OwnFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

void MakeFolders(const std::string& path, mode_t mode) {
  if (path.empty() || FolderExists(path)) return;
  std::string partial;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') {
      partial += path[i];
      continue;
    }
    if (!partial.empty() && partial != "/" && mkdir(partial.c_str(), mode) != 0 && errno != EEXIST)
      throw Error(ErrorKind::kIo, Tr("Cannot create folder \"{1}\": {2}", {partial, ErrnoText(errno)}));
    if (i < path.size()) partial += '/';
  }
  if (!FolderExists(path)) throw Error(ErrorKind::kIo, Tr("Cannot create folder \"{1}\": {2}", {path, ErrnoText(ENOTDIR)}));
}

std::optional<FileInfo> LookUp(const std::string& path, bool follow_links) {
  struct stat st;
  if (path.empty() || (follow_links ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0) return std::nullopt;
  return FileInfo{static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec), S_ISDIR(st.st_mode)};
}

std::optional<FileId> IdentityOf(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
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
    bool is_link = e->d_type == DT_LNK;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      is_link = lstat((base + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }
    if (e->d_type == DT_UNKNOWN || is_link) is_folder = FolderExists(base + name);
    out.push_back(FolderEntry{name, is_folder, is_link});
  }
  return out;
}

double UnixToLocalDate(int64_t unix_seconds) {
  return kUnixEpochDate + static_cast<double>(LocalSeconds(unix_seconds)) / 86400.0;
}

double PackedLocalDate(int64_t unix_seconds) {
  int64_t local_seconds = LocalSeconds(unix_seconds);
  local_seconds -= ((local_seconds % 2) + 2) % 2;  // the packed date keeps seconds / 2
  return kUnixEpochDate + static_cast<double>(local_seconds) / 86400.0;
}

std::string FormatLocalDate(double date) {
  const time_t t = static_cast<time_t>(DateSeconds(date));
  struct tm cal;
  if (!gmtime_r(&t, &cal)) return "";
  char buf[48];
  std::strftime(buf, sizeof buf, "%Y/%m/%d %H:%M:%S", &cal);
  return buf;
}

int64_t LocalDateToFileTime(double date) {
  const time_t wall = static_cast<time_t>(DateSeconds(date));
  struct tm cal;
  if (!gmtime_r(&wall, &cal)) return kFileTimeUnixOffset;
  cal.tm_isdst = -1;
  const time_t utc = mktime(&cal);  // calendar taken as local time
  return static_cast<int64_t>(utc) * kTicksPerSecond + kFileTimeUnixOffset;
}

void SetFileWriteTime(const std::string& path, int64_t file_time) {
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw Error(ErrorKind::kIo, Tr("Cannot open file \"{1}\": {2}", {path, ErrnoText(errno)}));
  // Seconds first: nanoseconds since 1970 leave 64 bits in the year 2262.
  const int64_t ticks = file_time - kFileTimeUnixOffset;
  int64_t seconds = ticks / kTicksPerSecond;
  int64_t rest = ticks % kTicksPerSecond;
  if (rest < 0) rest += kTicksPerSecond, --seconds;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = static_cast<long>(rest * 100);
  const int rc = futimens(fd, times);
  const int err = errno;
  close(fd);
  if (rc != 0) throw Error(ErrorKind::kIo, Tr("Cannot set the date of \"{1}\": {2}", {path, ErrnoText(err)}));
}

namespace {
std::string LanguageCode(std::string entry) {
  entry = entry.substr(0, entry.find_first_of("._@"));
  entry = entry.substr(0, entry.find('_'));
  return LowerAscii(entry);
}
}  // namespace

namespace {
// Whether the messages' locale is C or POSIX, or none is set.
bool CLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      const std::string locale = value;
      const std::string base = locale.substr(0, locale.find_first_of("._@"));
      return base.empty() || base == "C" || base == "POSIX";
    }
  }
  return true;
}
}  // namespace

std::string MessageLanguage() {
  // The locale comes from LC_ALL, LC_MESSAGES or LANG, and LANGUAGE, when
  // set, names the language first. Unlike gettext, LANGUAGE is read under C
  // or POSIX (or none) too: C here means the program's own language,
  // Japanese, and a cron job's or a container's user must still be able to
  // ask for English without installing a locale.
  std::string locale;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) {
      locale = value;
      break;
    }
  }
  if (const char* list = std::getenv("LANGUAGE"); list && *list) {
    const std::string first = LanguageCode(std::string(list).substr(0, std::string(list).find(':')));
    if (first == "c" || first == "posix") return kOwnLanguage;
    if (first.size() >= 2) return first;
  }
  const std::string base = locale.substr(0, locale.find_first_of("._@"));
  if (base.empty() || base == "C" || base == "POSIX") return kOwnLanguage;
  const std::string code = LanguageCode(locale);
  return code.size() >= 2 ? code : kOwnLanguage;
}

std::vector<std::string> CatalogFolders() {
  const std::string folder = ProgramFolder();
  return {folder + "locale/", folder + "../share/locale/"};
}

std::vector<std::string> WantedLanguages() {
  const std::string first = MessageLanguage();
  // Under C the program's own language needs no catalog and no fall-back.
  if (CLocale() && first == kOwnLanguage) return {first};
  std::vector<std::string> languages;
  auto add = [&](const std::string& code) {
    if (code.size() < 2 || code == "c" || code == "posix") return;
    for (const auto& have : languages)
      if (have == code) return;
    languages.push_back(code);
  };
  add(first);
  // LANGUAGE lists fall-backs after the first choice.
  if (const char* list = std::getenv("LANGUAGE"); list && *list) {
    std::string rest = list;
    for (size_t start = 0; start <= rest.size();) {
      const size_t colon = rest.find(':', start);
      add(LanguageCode(rest.substr(start, colon == std::string::npos ? std::string::npos : colon - start)));
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
  }
  add("en");
  return languages;
}

std::string UseUserLanguage() {
  // Only the messages: numbers keep their C form in every text and file.
  std::setlocale(LC_MESSAGES, "");
  for (const auto& language : WantedLanguages())
    for (const auto& folder : CatalogFolders()) {
      MessageTable table;
      if (ReadMessageFile(folder + language + "/LC_MESSAGES/velmora.mo", table)) {
        SetMessageTable(std::move(table));
        return language;
      }
    }
  SetMessageTable({});
  return {};
}

FileClock FileTimeNow() {
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
    char* end = nullptr;
    const long long value = std::strtoll(epoch, &end, 10);
    if (end && *end == '\0' && value >= 0) return {static_cast<std::time_t>(value), true};
  }
  return {std::time(nullptr), false};
}

}  // namespace velmora::platform
