#include "pipeline/shell_file_operation.h"
#include "base/messages.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "base/paths.h"
#include "platform/platform.h"

namespace velmora {

unsigned ShellFileOperation::Flags() const {
  unsigned f = 0;
  if (options.ALLOWUNDO) f |= 0x0040;
  if (options.FILESONLY) f |= 0x0080;
  if (options.MUILIDESTFILES) f |= 0x0001;
  if (options.NOCONFIRMATION) f |= 0x0010;
  if (options.NOCONFIRMMKDIR) f |= 0x0200;
  if (options.RENAMEONCOLLISION) f |= 0x0008;
  if (options.SILENT) f |= 0x0004;
  if (options.SIMPLEPROGRESS) f |= 0x0100;
  return f;
}

int ShellFileOperation::Execute() {
  if (FromFFList.empty()) throw Error(ErrorKind::kInternal, Tr("ShfOperation:ﾌｧｲﾙが指定されていません."));
  if (options.MUILIDESTFILES && ToFiles.empty()) throw Error(ErrorKind::kInternal, Tr("ShfOperation:ﾀｰｹﾞｯﾄが指定されていません."));
  aborted_ = false;
  last_error_.clear();
  int result = 0;
  for (size_t i = 0; i < FromFFList.size(); ++i) {
    const std::string& from = FromFFList[i];
    std::string to;
    if (options.MUILIDESTFILES) {
      to = i < ToFiles.size() ? ToFiles[i] : ToFiles.back();
    } else if (!ToFolder.empty()) {
      to = ToFolder + (ToFolder.back() == '/' ? "" : "/") + FileNameOf(from);
    }
    int rc = 0;
    std::string reason;
    try {
      switch (OperationF) {
        case Operation::foDELETE:
          if (options.ALLOWUNDO)
            platform::MoveToTrash(from);
          else if (std::remove(from.c_str()) != 0)
            rc = errno;
          break;
        case Operation::foMOVE:
        case Operation::foRENAME:
          if (to.empty())
            rc = EINVAL;
          else if (std::rename(from.c_str(), to.c_str()) != 0)
            rc = errno;
          break;
        case Operation::foCOPY: {
          if (to.empty()) {
            rc = EINVAL;
            break;
          }
          platform::WriteFileAtomically(to, [&](std::ostream& out) {
            const auto bytes = platform::LookUp(from);
            if (!bytes) throw Error(ErrorKind::kIo, Tr("Cannot open file \"{1}\": {2}", {from, platform::ErrnoText(ENOENT)}));
            std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(from.c_str(), "rb"), std::fclose);
            if (!in) throw Error(ErrorKind::kIo, Tr("Cannot open file \"{1}\": {2}", {from, platform::ErrnoText(errno)}));
            char buf[65536];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0) out.write(buf, static_cast<std::streamsize>(n));
          });
          break;
        }
      }
    } catch (const Error& e) {
      rc = errno ? errno : EIO;
      reason = e.what();
    }
    if (rc && !result) {
      result = rc;
      last_error_ = reason.empty() ? from + ": " + platform::ErrnoText(rc) : reason;
    }
  }
  return result;
}

}  // namespace velmora
