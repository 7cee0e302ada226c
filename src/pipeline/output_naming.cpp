#include "pipeline/output_naming.h"

#include "base/messages.h"
#include "base/paths.h"

namespace velmora {

std::string OutputPathFor(const Settings& settings, const NamingContext& context, const std::string& source,
                          const std::string& extension, bool combined) {
  std::string path = StemOf(source);
  path += settings.V_adds ? "s." + extension : "." + extension;
  if (combined && settings.C_multi_fn) path = FolderOf(source) + settings.multi_outfile + "." + extension;
  if (settings.S_app) return context.program_folder + FileNameOf(path);
  if (!settings.S_folder) return path;
  std::string folder = settings.S_folder_n;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  // Files found below a dropped folder keep their place under the save folder.
  const std::string& base = context.folder_base;
  if (!combined && context.recursive && !base.empty() && source.rfind(base, 0) == 0)
    folder += FolderOf(source.substr(base.size()));
  return folder + FileNameOf(path);
}

void BatchGuard::Clear() {
  sources_.clear();
  written_by_.clear();
  current_.reset();
}

void BatchGuard::ProtectSource(const std::string& path) {
  if (auto id = platform::IdentityOf(path)) sources_.insert(*id);
}

void BatchGuard::Written(const std::string& path, const std::string& source) {
  if (auto id = platform::IdentityOf(path)) written_by_.emplace(*id, source);
}

void BatchGuard::Check(const std::string& path) const {
  const auto id = platform::IdentityOf(path);
  if (!id) return;
  if (current_ && *id == *current_)
    throw OutputRefused(Tr("\"{1}\" is the source file itself; it is not overwritten", {path}));
  if (auto it = written_by_.find(*id); it != written_by_.end())
    throw OutputRefused(Tr("\"{1}\" was already written in this batch from {2}; it is not overwritten", {path, it->second}));
  if (sources_.count(*id)) throw OutputRefused(Tr("\"{1}\" is a source of this batch; it is not overwritten", {path}));
}

}  // namespace velmora
