#include "sdk_bridge/sdk_logger.h"

#include "plugin/plugin_log.h"

namespace kesp::plugins::fpchecker {

std::uint32_t sdkLogLevelToHost(std::int32_t level) noexcept {
  switch (level) {
    case 1: return plx::LogWarning;
    case 2: return plx::LogInfo;
    case 3: return plx::LogDebug;
    default: return plx::LogError;
  }
}

bool VfpcSdkLogger::filter(std::int32_t level) {
  // Logger::isEnabled answers false without a sink and never throws.
  return logger_->isEnabled(sdkLogLevelToHost(level), kLogModule, kLogFlags);
}

void VfpcSdkLogger::log(std::int32_t level, std::int32_t, const std::string& message) {
  // The SDK's text is an argument, never the format: a '%' in it is printed
  // as it is. logFormat never throws.
  logger_->logFormat(sdkLogLevelToHost(level), kLogModule, kLogFlags, "[fpcsdk] %s",
                     message.c_str());
}

}  // namespace kesp::plugins::fpchecker
