// The shell file operation: move, copy, delete or rename a list of files.
// Deleting with ALLOWUNDO puts the files in the user's trash.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class ShellFileOperation {
 public:
  enum class Operation { foMOVE = 1, foCOPY = 2, foDELETE = 3, foRENAME = 4 };
  struct Options {
    bool ALLOWUNDO = false;          // 0x0040
    bool FILESONLY = false;          // 0x0080
    bool MUILIDESTFILES = false;     // 0x0001
    bool NOCONFIRMATION = false;     // 0x0010
    bool NOCONFIRMMKDIR = false;     // 0x0200
    bool RENAMEONCOLLISION = false;  // 0x0008
    bool SILENT = false;             // 0x0004
    bool SIMPLEPROGRESS = false;     // 0x0100
  };

  std::vector<std::string> FromFFList;
  Operation OperationF = Operation::foMOVE;
  std::string ToFolder;
  std::vector<std::string> ToFiles;
  Options options;
  std::string ProgressTitle;

  // The OR of the flags of the options that are on.
  unsigned Flags() const;
  bool fAbort() const { return aborted_; }
  // The reason the first failing file failed, after Execute returned non-zero.
  const std::string& LastError() const { return last_error_; }
  // Runs the operation; 0 on success, otherwise the first failing call's errno.
  // Raises Error for an empty list or missing targets.
  int Execute();

 private:
  bool aborted_ = false;
  std::string last_error_;
};

}  // namespace velmora
