// The library's only export.
#include <memory>

#include "foundation/boundary.h"
#include "foundation/log_adapter.h"
#include "kesp/plugin.h"
#include "plugin/checker_plugin.h"
#include "foundation/plugin_log.h"

using kesp::plugins::fpchecker::VFPCCheckerPlugin;

extern "C" KESP_PLUGIN_EXPORT kesp::plugins::PluginV1* KESPGetPlugin(kesp::PluginInput* input) {
  if (input == nullptr) return nullptr;  // nowhere to report it
  // Only for failures of the construction below; the plug-in object builds
  // its own logger over the same host log.
  kesp::HostLog* hostLog = nullptr;
  try {
    hostLog = input->getLog();
  } catch (...) {
    return nullptr;
  }
  kesp::LogAdapter adapter(hostLog);
  const plx::Logger logger(&adapter);
  return plx::callGuarded(kesp::plugins::fpchecker::pluginLog(logger),
                          static_cast<kesp::plugins::PluginV1*>(nullptr),
                          static_cast<kesp::plugins::PluginV1*>(nullptr),
                          [&]() -> kesp::plugins::PluginV1* {
                            return std::make_unique<VFPCCheckerPlugin>(*input).release();
                          });
}
