#include "app/startup.h"

#include "app/ini_store.h"

namespace velmora {

Startup::Startup(const DecodeLimits& limits) : loader_(limits) {
  loader_.SetRequest(StandardRequest());
  plugins_ = std::make_unique<SusiePlugins>(loader_.Registry());
}

Startup::~Startup() = default;

void Startup::LoadPlugins() { plugins_->Loaded(); }

}  // namespace velmora
