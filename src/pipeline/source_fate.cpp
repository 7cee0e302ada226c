#include "pipeline/source_fate.h"

#include <algorithm>
#include <exception>

#include "platform/platform.h"

namespace velmora {

SourceFate::SourceFate() {
  // A converted file goes to the trash: a delete that can be undone.
  file_operation_.OperationF = ShellFileOperation::Operation::foDELETE;
  file_operation_.options.ALLOWUNDO = true;
}

void SourceFate::RecordDate(const Settings& settings, const std::string& source) {
  if (!settings.V_olddate) return;
  if (auto info = platform::LookUp(source, /*follow_links=*/false)) {
    date_ = platform::PackedLocalDate(info->mtime_seconds);
    date_found_ = true;
  } else {
    date_found_ = false;
  }
}

void SourceFate::Stamp(const std::string& path) const {
  platform::SetFileWriteTime(path, platform::LocalDateToFileTime(date_));
}

void SourceFate::MoveToTrash(const std::string& source) {
  file_operation_.FromFFList = {source};
  if (file_operation_.Execute() != 0) throw Error(ErrorKind::kIo, file_operation_.LastError());
}

void SourceFate::Defer(const std::string& source, std::vector<size_t> files) {
  deferred_.push_back(Deferred{source, std::move(files)});
}

void SourceFate::Release(const std::vector<size_t>& written,
                         const std::function<void(const std::string&, const std::string&)>& failure) {
  for (const Deferred& d : deferred_) {
    const bool all = std::all_of(d.files.begin(), d.files.end(), [&](size_t file) {
      return std::find(written.begin(), written.end(), file) != written.end();
    });
    if (!all) continue;
    try {
      MoveToTrash(d.source);
    } catch (const std::exception& e) {
      failure(d.source, e.what());
    }
  }
  deferred_.clear();
}

}  // namespace velmora
