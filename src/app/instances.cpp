#include "app/instances.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/platform.h"

namespace velmora {
namespace {

std::string DefaultFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
    return std::string(runtime) + "/velmora/";
  return "/tmp/velmora-" + std::to_string(getuid()) + "/";
}

}  // namespace

Instances::Instances(std::string folder) : folder_(folder.empty() ? DefaultFolder() : std::move(folder)) {
  if (folder_.back() != '/') folder_ += '/';
}

Instances::~Instances() {
  if (!own_.empty()) unlink(own_.c_str());
}

void Instances::Publish(int x, int y, bool on_top) {
  try {
    platform::MakeFolders(folder_, 0700);
  } catch (const Error&) {
    return;  // without the folder the instances simply do not know of each other
  }
  own_ = folder_ + std::to_string(getpid());
  std::ofstream(own_) << x << ' ' << y << ' ' << (on_top ? 1 : 0) << '\n';
}

std::vector<Instances::Place> Instances::Others() const {
  std::vector<Place> places;
  for (const platform::FolderEntry& entry : platform::ListFolder(folder_)) {
    const int pid = std::atoi(entry.name.c_str());
    if (pid <= 0 || pid == getpid()) continue;
    // A file whose instance has gone is stale: it is taken away.
    if (kill(pid, 0) != 0 && errno == ESRCH) {
      unlink((folder_ + entry.name).c_str());
      continue;
    }
    std::ifstream in(folder_ + entry.name);
    Place p{};
    int on_top = 0;
    if (in >> p.x >> p.y >> on_top) p.on_top = on_top != 0, places.push_back(p);
  }
  return places;
}

std::pair<int, int> Instances::FreePlace(int x, int y) const {
  const std::vector<Place> others = Others();
  for (int step = 0; step < 64; ++step) {
    bool taken = false;
    for (const Place& p : others) taken |= p.x == x && p.y == y;
    if (!taken) break;
    x += 24, y += 24;
  }
  return {x, y};
}

bool Instances::OtherOnTop() const {
  for (const Place& p : Others())
    if (p.on_top) return true;
  return false;
}

}  // namespace velmora
