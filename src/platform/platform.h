// POSIX stand-ins for the desktop platform's services: paths, file times,
// folder listing, the trash and the program's own location.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::platform {

// The long (canonical, absolute) form of a path; empty when it cannot be resolved.
std::string LongPathOf(const std::string& path);

// The running program file (/proc/self/exe) and its folder with a trailing "/".
std::string ProgramPath();
std::string ProgramFolder();
// $XDG_CONFIG_HOME/velmora/ (default ~/.config/velmora/), with a trailing "/".
std::string ConfigFolder();
// $XDG_DATA_HOME (default ~/.local/share), without a trailing "/".
std::string DataHome();

bool FileExists(const std::string& path);  // anything but a folder
bool FolderExists(const std::string& path);
bool PathExists(const std::string& path);
bool IsWritableFolder(const std::string& path);

struct FileInfo {
  int64_t size = 0;
  int64_t mtime_seconds = 0;  // seconds since the Unix epoch, UTC
  bool folder = false;
};
std::optional<FileInfo> LookUp(const std::string& path);

// Entries of a folder in the order the file system returns them ("." and ".."
// left out), with a flag telling folders apart.
struct FolderEntry {
  std::string name;
  bool folder;
};
std::vector<FolderEntry> ListFolder(const std::string& folder);

// Local date-time values: days since 1899-12-30 with the time as the fraction.
double UnixToLocalDate(int64_t unix_seconds);
// The local date-time of a file's packed date: local time, seconds rounded
// down to even.
double PackedLocalDate(int64_t unix_seconds);
// Calendar text of a local date-time value, "yyyy/mm/dd hh:nn:ss".
std::string FormatLocalDate(double date);
// A local date-time value as a UTC file time (100 ns since 1601-01-01).
int64_t LocalDateToFileTime(double date);
int64_t FileTimeToUnixNanos(int64_t file_time);

// Sets the last-write time (and leaves the access time); throws
// std::runtime_error when the file cannot be opened for writing.
void SetFileWriteTime(const std::string& path, int64_t file_time);

// Moves a file to the freedesktop trash of the user; throws on failure.
void MoveToTrash(const std::string& path);

std::string ErrnoText(int err);

}  // namespace velmora::platform

#include <functional>
#include <iosfwd>

namespace velmora::platform {

// Writes a file through a temporary file in the target folder that is renamed
// over the target only when write() returned: a failure leaves no partial file
// and an existing file untouched. Raises std::runtime_error naming the path.
void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

}  // namespace velmora::platform
