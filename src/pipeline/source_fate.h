// What becomes of a converted source: its date given to the outputs when
// asked, and the source moved to the trash once every output it asked for
// exists (for the combined outputs, once they are written at the batch's end).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pipeline/settings.h"
#include "pipeline/shell_file_operation.h"

namespace velmora {

class SourceFate {
 public:
  SourceFate();

  // The source's last-write time, looked up when the settings keep dates:
  // a link's own (the source is the name the user chose). Keeps the date
  // it had when the source cannot be looked up.
  void RecordDate(const Settings& settings, const std::string& source);
  bool DateFound() const { return date_found_; }
  void ForgetDate() { date_found_ = false; }
  double Date() const { return date_; }
  // Gives a file the recorded date; raises when it cannot be opened.
  void Stamp(const std::string& path) const;

  // Moves the source to the trash now; raises with the reason.
  void MoveToTrash(const std::string& source);
  // A source of batch-wide files (named by their writers) leaves once
  // those files are written.
  void Defer(const std::string& source, std::vector<size_t> files);
  // The deferred sources all of whose files were written go; failure
  // receives each one that could not.
  void Release(const std::vector<size_t>& written,
               const std::function<void(const std::string& source, const std::string& reason)>& failure);
  void DropDeferred() { deferred_.clear(); }

  ShellFileOperation& FileOperation() { return file_operation_; }

 private:
  struct Deferred {
    std::string source;
    std::vector<size_t> files;
  };
  ShellFileOperation file_operation_;
  std::vector<Deferred> deferred_;
  double date_ = 0;
  bool date_found_ = false;
};

}  // namespace velmora
