#include "plugin/checker_plugin.h"

#include <memory>

#include "foundation/boundary.h"
#include "plugin/checker.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_input.h"
#include "foundation/plugin_log.h"

namespace kesp::plugins::fpchecker {

VFPCCheckerPlugin::VFPCCheckerPlugin(PluginInput& input)
    : logAdapter_(input.getLog()),
      logger_(&logAdapter_),
      hostDataString_(readPluginInputString(input, PluginInputHostDataString)) {}

void VFPCCheckerPlugin::release() {
  pluginLog(logger_).text(plx::LogDebug, "VFPC checker release plugin called");
  std::unique_ptr<VFPCCheckerPlugin> self(this);
}

CheckerV1* VFPCCheckerPlugin::getChecker() {
  const auto log = pluginLog(logger_);
  return plx::callGuarded(log, static_cast<CheckerV1*>(nullptr), static_cast<CheckerV1*>(nullptr),
                          [&]() -> CheckerV1* {
                            log.text(plx::LogDebug, "VFPC checker get plugin interface called");
                            return std::make_unique<VFPCChecker>(logger_, hostDataString_)
                                .release();
                          });
}

PluginInfoV1* VFPCCheckerPlugin::getPluginInfo() {
  return plx::callGuarded(pluginLog(logger_), static_cast<PluginInfoV1*>(nullptr),
                          static_cast<PluginInfoV1*>(nullptr), []() -> PluginInfoV1* {
                            return std::make_unique<PluginInfoImpl>().release();
                          });
}

}  // namespace kesp::plugins::fpchecker
