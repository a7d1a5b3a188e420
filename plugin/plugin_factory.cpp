#include "plugin/plugin_factory.h"

#include <memory>

#include "foundation/boundary.h"
#include "foundation/log_adapter.h"
#include "foundation/plugin_log.h"
#include "plugin/checker_plugin.h"

namespace kesp::plugins::fpchecker {

bool readHostLog(PluginInput& input, HostLog*& hostLog) noexcept {
  try {
    hostLog = input.getLog();
    return true;
  } catch (...) {
    return false;
  }
}

PluginV1* createPluginObject(PluginInput& input, HostLog* failureLog) noexcept {
  // Only for failures of the construction below; the plug-in object builds
  // its own logger over the input's log.
  LogAdapter adapter(failureLog);
  const plx::Logger logger(&adapter);
  return plx::callGuarded(pluginLog(logger), static_cast<PluginV1*>(nullptr),
                          static_cast<PluginV1*>(nullptr), [&]() -> PluginV1* {
                            return std::make_unique<VFPCCheckerPlugin>(input).release();
                          });
}

}  // namespace kesp::plugins::fpchecker
