#include "sdk_bridge/sdk_logger.h"

#include <string_view>

#include "foundation/plugin_log.h"
#include "foundation/utf8_text.h"

namespace kesp::plugins::fpchecker {

std::uint32_t sdkLogLevelToHost(std::int32_t level) noexcept {
  switch (level) {
    case 1: return plx::LogWarning;
    case 2: return plx::LogInfo;
    case 3: return plx::LogDebug;
    default: return plx::LogError;
  }
}

namespace {
// Abandoned interfaces stay reachable from here, so that they are neither
// freed under the SDK nor reported as leaks.
std::atomic<VfpcSdkLogger*> abandonedLoggers{nullptr};
}  // namespace

bool VfpcSdkLogger::filter(std::int32_t level) {
  const plx::Logger* logger = logger_.load(std::memory_order_acquire);
  // Logger::isEnabled answers false without a sink and never throws.
  return logger != nullptr && logger->isEnabled(sdkLogLevelToHost(level), kLogModule, kLogFlags);
}

void VfpcSdkLogger::log(std::int32_t level, std::int32_t, const std::string& message) {
  const plx::Logger* logger = logger_.load(std::memory_order_acquire);
  if (logger == nullptr) {
    dropped_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // The host log takes UTF-8. Mending allocates, so only a line that needs
  // it pays; a line that cannot be mended for want of memory is dropped.
  std::string mended;
  const char* text = message.c_str();
  if (plx::firstInvalidUtf8(message) != std::string_view::npos) {
    try {
      mended = plx::replaceInvalidUtf8(message);
    } catch (...) {
      return;
    }
    text = mended.c_str();
  }
  // The SDK's text is an argument, never the format: a '%' in it is printed
  // as it is. logFormat never throws.
  logger->logFormat(sdkLogLevelToHost(level), kLogModule, kLogFlags, "[fpcsdk] %s", text);
}

void VfpcSdkLogger::abandon(std::unique_ptr<VfpcSdkLogger> logger) noexcept {
  if (!logger) return;
  logger->close();
  VfpcSdkLogger* abandoned = logger.release();
  abandoned->nextAbandoned_ = abandonedLoggers.load();
  while (!abandonedLoggers.compare_exchange_weak(abandoned->nextAbandoned_, abandoned)) {
  }
}

}  // namespace kesp::plugins::fpchecker
