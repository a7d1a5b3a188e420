// The plug-in object handed to the host by KESPGetPlugin.
#pragma once

#include <string>

#include "foundation/log_adapter.h"
#include "foundation/logger.h"
#include "kesp/plugin.h"

namespace kesp::plugins::fpchecker {

class VFPCCheckerPlugin final : public PluginV1 {
 public:
  // Reads the host data string (id 1001); throws plx::Exception when the
  // input lacks it. The input is not kept, only its log object.
  explicit VFPCCheckerPlugin(PluginInput& input);

  void release() override;
  CheckerV1* getChecker() override;
  PluginInfoV1* getPluginInfo() override;

 private:
  LogAdapter logAdapter_;
  // Every checker, configuration, instance and input logs through this
  // logger, so the plug-in object must outlive them all.
  plx::Logger logger_;
  std::string hostDataString_;
};

}  // namespace kesp::plugins::fpchecker
