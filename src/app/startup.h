// What both programs start with: the loader with the limits of the
// settings file and the standard CMYK profile at hand, and the Susie
// plug-ins searched once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/loader.h"
#include "formats/susie/susie_host.h"
#include "image/limits.h"

namespace velmora {

class Startup {
 public:
  explicit Startup(const DecodeLimits& limits);
  ~Startup();
  Startup(const Startup&) = delete;
  Startup& operator=(const Startup&) = delete;

  // Searches the plug-ins (the desktop program once its windows exist, the
  // command line before its first file); their warnings are kept.
  void LoadPlugins();

  Loader& loader() { return loader_; }
  SusiePlugins& plugins() { return *plugins_; }
  const std::vector<std::string>& Warnings() const { return plugins_->Warnings(); }

 private:
  Loader loader_;
  std::unique_ptr<SusiePlugins> plugins_;
};

}  // namespace velmora
