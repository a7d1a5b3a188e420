// The log interface the checker SDK writes to: its lines reach the host log
// through the checker's logger, behind the prefix "[fpcsdk] ".
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/logger.h"
#include "sdk_bridge/fpcsdk.h"

namespace kesp::plugins::fpchecker {

// SDK levels 1 to 3 keep their number; 0 and anything else is an error.
std::uint32_t sdkLogLevelToHost(std::int32_t level) noexcept;

class VfpcSdkLogger final : public fpcsdk::LogInterface {
 public:
  // logger must outlive the SDK object that holds this interface, unless the
  // interface is abandoned first.
  explicit VfpcSdkLogger(const plx::Logger& logger) noexcept : logger_(&logger) {}

  // Neither lets an exception reach the SDK; both may run on any SDK thread.
  bool filter(std::int32_t level) override;
  void log(std::int32_t level, std::int32_t context, const std::string& message) override;

  // For an SDK object that must be left alive when its checker goes: the
  // interface stays valid for the life of the process, wants nothing and
  // writes nothing.
  static void abandon(std::unique_ptr<VfpcSdkLogger> logger) noexcept;

 private:
  std::atomic<const plx::Logger*> logger_;
  VfpcSdkLogger* nextAbandoned_ = nullptr;
};

}  // namespace kesp::plugins::fpchecker
