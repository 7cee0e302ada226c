// POSIX stand-ins for the desktop platform's services: paths, file times,
// folder listing, the trash, safe file writing and the program's own location.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/scratch_file.h"

namespace velmora::platform {

// The absolute, normalised form of a path ("." and ".." taken away by
// name), links not resolved: a link stays the name the user chose. Relative
// paths start at the current folder; empty when that cannot be read.
std::string AbsolutePath(const std::string& path);
// AbsolutePath of a path that exists (a dangling link counts); empty otherwise.
std::string LongPathOf(const std::string& path);

// The running program file (/proc/self/exe) and its folder with a trailing "/".
std::string ProgramPath();
std::string ProgramFolder();
// $XDG_CONFIG_HOME/velmora/ (default ~/.config/velmora/), with a trailing "/".
std::string ConfigFolder();
// $XDG_DATA_HOME (default ~/.local/share), without a trailing "/".
std::string DataHome();
// The user's pictures folder as the desktop names it (XDG_PICTURES_DIR in
// user-dirs.dirs, as xdg-user-dir reads it), else ~/Pictures when it exists,
// else the home folder; with a trailing "/".
std::string PicturesFolder();

// A standard CMYK colour profile for CMYK pictures that carry none: the one
// $VELMORA_CMYK_PROFILE names, else the first installed of the usual places
// (Ghostscript's default press profile); empty when there is none.
std::vector<uint8_t> StandardCmykProfile();

// The memory one conversion may hold unless the settings say otherwise:
// three quarters of the machine's memory, and of the process's address
// space and data limits when they are set (ulimit -v, -d), so that an
// encoder that would pass them fails with a reason, not bad_alloc.
int64_t DefaultMemoryLimit();

bool FileExists(const std::string& path);  // anything but a folder
bool FolderExists(const std::string& path);
bool PathExists(const std::string& path);
bool IsWritableFolder(const std::string& path);
// A folder a program lives in when a package installed it (/usr, /usr/local,
// /opt, /bin, /sbin and below, or a .../usr/bin of another root): nothing of
// a user's belongs there.
bool IsSystemFolder(const std::string& path);
// Whether the folder belongs to the user running the program.
bool OwnFolder(const std::string& path);
// Creates a folder and its parents (mode less the umask); raises FileError.
void MakeFolders(const std::string& path, mode_t mode = 0777);

// Reads a whole input file with sized reads. Only a regular file is read:
// the file is opened without blocking (a FIFO would wait forever) and its
// kind is checked on the open descriptor, so a device or pipe, also behind a
// link, is refused. A file larger than max_bytes is refused before reading.
// Raises FileError naming the file and the reason.
std::vector<uint8_t> ReadRegularFile(const std::string& path, int64_t max_bytes);

struct FileInfo {
  int64_t size = 0;
  int64_t mtime_seconds = 0;  // seconds since the Unix epoch, UTC
  bool folder = false;
};
// follow_links false: a link's own size and date, not its target's.
std::optional<FileInfo> LookUp(const std::string& path, bool follow_links = true);

// What makes two paths the same file: device and inode (links followed).
struct FileId {
  uint64_t device = 0;
  uint64_t inode = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};
std::optional<FileId> IdentityOf(const std::string& path);

// Entries of a folder in the order the file system returns them ("." and ".."
// left out), with flags telling folders (links to folders too) and links apart.
struct FolderEntry {
  std::string name;
  bool folder;
  bool link = false;
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

// Sets the last-write time (and leaves the access time); raises FileError
// when the file cannot be opened for writing.
void SetFileWriteTime(const std::string& path, int64_t file_time);

// Moves a file to the freedesktop trash of the user ($XDG_DATA_HOME/Trash).
// Across file systems the file is copied, checked and only then removed.
// Raises FileError with the reason; the file is left where it was.
void MoveToTrash(const std::string& path);

std::string ErrnoText(int err);

// Writes a file through a temporary file in the target folder that is synced
// and renamed over the target only when write() returned: a failure leaves no
// partial file and an existing file untouched. A replaced file keeps its
// permissions; a read-only existing file is refused. Raises FileError naming
// the path and the reason.
void WriteFileAtomically(const std::string& path, const std::function<void(std::ostream&)>& write);

// An output written before it is known whether and under which name it is
// kept: an unnamed file in the folder it most likely goes to, synced once
// written, so that committing it only gives it its name. Nothing of it is
// left on disk if it is dropped or the process ends, however it ends.
class PendingFile {
 public:
  PendingFile() = default;
  // Opens one in folder; Valid() is false when the folder cannot hold one
  // (no such folder, no access, a file system without unnamed files) or
  // its file system has less than room bytes free.
  explicit PendingFile(const std::string& folder, uint64_t room = 0);
  ~PendingFile();
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;

  bool Valid() const { return fd_ >= 0; }
  // Everything written, to out (standard output, say).
  void CopyTo(std::ostream& out) const;
  // Writes and syncs the file. False, the file dropped, when the disk
  // refused the bytes; an exception of write() passes through (the file
  // dropped too).
  bool Write(const std::function<void(std::ostream&)>& write);

 private:
  friend void CommitFileAtomically(const std::string& path, PendingFile& file);
  void Drop();
  int fd_ = -1;
  dev_t device_ = 0;
};

// Gives a valid pending file the name path with WriteFileAtomically's
// promises and errors: the same checks of the target, renamed over it,
// a replaced file's permissions kept. On another file system its bytes are
// copied. The pending file is closed once named or copied.
void CommitFileAtomically(const std::string& path, PendingFile& file);

// Whether a file name is one of the temporaries WriteFileAtomically makes
// (".NAME.velmora-XXXXXX"), left behind by a run that was killed.
bool IsOurTemporary(const std::string& file_name);
// A fresh name of that kind for a file to be called name.
std::string TemporaryNameFor(const std::string& name);

// Removes every temporary being written right now. Safe to call from a
// signal handler.
void RemoveTemporariesNow() noexcept;

// Removes our temporaries in folder that were last written before `before`
// (seconds since the epoch) and that no process is writing: their writer
// holds a lock on them for as long as it lives, so one nobody holds was
// left by a run that was killed. Returns the names removed.
std::vector<std::string> RemoveStaleTemporaries(const std::string& folder, int64_t before);

}  // namespace velmora::platform

namespace velmora::platform {

class FdBuffer;

// A temporary file of the process's own in $TMPDIR (default /tmp): it has no
// name, so it is gone when closed or when the process ends, however it ends.
// Holds what a batch collects (combined outputs) outside memory.
// $TMPDIR, or /tmp.
std::string TemporaryFolder();

class SpoolFile : public ScratchFile {
 public:
  // An unnamed file in folder, or in $TMPDIR when it is empty or cannot
  // hold one; raises Error (kIo) when neither can.
  explicit SpoolFile(const std::string& folder = "");
  ~SpoolFile() override;
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Appends at the end (or where it was moved to: it can seek).
  std::ostream& Out() override;
  // Bytes written so far; raises Error when a write failed (full disk).
  uint64_t Size() override;
  // Copies everything written to out.
  void CopyTo(std::ostream& out) override;
  // Reads or replaces bytes at offset (after Out's writes are flushed).
  void ReadAt(uint64_t offset, uint8_t* dst, size_t n);
  void WriteAt(uint64_t offset, const uint8_t* src, size_t n);

 private:
  void Check();
  std::string folder_;
  int fd_ = -1;
  std::unique_ptr<FdBuffer> buffer_;
  std::unique_ptr<std::ostream> out_;
};

}  // namespace velmora::platform

namespace velmora::platform {

// The program's own language: its texts are written in it, and it is what a
// user under the C or POSIX locale (or none) reads.
inline constexpr const char* kOwnLanguage = "ja";

// The language of the user's messages ("ja", "en", ...): the first entry of
// LANGUAGE, else the code of the locale from LC_ALL, LC_MESSAGES or LANG;
// kOwnLanguage under the C or POSIX locale (any codeset) and when no locale
// is set.
std::string MessageLanguage();

// The folders where message catalogs live, in the order tried: beside the
// program (the build tree) and the installation's share/locale.
std::vector<std::string> CatalogFolders();

// The languages to try for the user, most wanted first: MessageLanguage(),
// the fall-backs LANGUAGE lists, then English, which any user whose
// language we have no catalog for reads better than Japanese. Under the C or
// POSIX locale, the program's own language alone.
std::vector<std::string> WantedLanguages();

// Loads the catalog of the first wanted language found in CatalogFolders(),
// and sets the C library's messages locale from the environment (its own
// error texts are not used: SystemErrorText has them). Returns that
// language, or "" when no catalog was found and the texts are used as
// written. Called once at start-up, before any thread runs.
std::string UseUserLanguage();

// The time a file records as its making: SOURCE_DATE_EPOCH when it is set
// (the reproducible-builds convention: then the same pictures give the same
// bytes), else now.
struct FileClock {
  std::time_t when;
  bool fixed;  // from SOURCE_DATE_EPOCH: to be shown in UTC
};
FileClock FileTimeNow();

}  // namespace velmora::platform

namespace velmora::platform {

// The desktop registry of the current user, stood in for by
// $XDG_CONFIG_HOME/velmora/registry.ini: one section per key path (as
// "Software\Halvik\Susie\Plug-in"), one line per value. Empty when the file,
// the key or the value is missing.
std::string RegistryPath();
std::string RegistryValue(const std::string& key_path, const std::string& value_name);

}  // namespace velmora::platform
