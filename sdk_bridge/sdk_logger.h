// The log interface the checker SDK writes to: its lines reach the host log
// through the checker's logger, behind the prefix "[fpcsdk] ".
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/logger.h"
#include "fpcsdk/fpcsdk.h"

namespace kesp::plugins::fpchecker {

// SDK levels 1 to 3 keep their number; 0 and anything else is an error.
std::uint32_t sdkLogLevelToHost(std::int32_t level) noexcept;

// One per SDK object. Open from FPCCreate until FPCDestroy has returned;
// closed after that, when it wants nothing and drops and counts what still
// comes. It must stay valid for as long as the SDK library may run code: the
// loader frees it only once the library is gone, and abandons it otherwise.
class VfpcSdkLogger final : public fpcsdk::LogInterface {
 public:
  explicit VfpcSdkLogger(const plx::Logger& logger) noexcept : logger_(&logger) {}

  // Neither lets an exception reach the SDK; both may run on any SDK thread.
  // A line that is not well-formed UTF-8 reaches the host with U+FFFD in
  // place of each ill-formed part (plx::replaceInvalidUtf8).
  bool filter(std::int32_t level) override;
  void log(std::int32_t level, std::int32_t context, const std::string& message) override;

  // From now on the logger is not used: lines are dropped and counted.
  void close() noexcept { logger_.store(nullptr, std::memory_order_release); }
  // The lines dropped since close.
  std::uint64_t droppedLines() const noexcept {
    return dropped_.load(std::memory_order_relaxed);
  }

  // Closes the interface and keeps it valid for the life of the process:
  // for an SDK that may still call it when its checker is gone.
  static void abandon(std::unique_ptr<VfpcSdkLogger> logger) noexcept;

 private:
  std::atomic<const plx::Logger*> logger_;
  std::atomic<std::uint64_t> dropped_{0};
  VfpcSdkLogger* nextAbandoned_ = nullptr;
};

}  // namespace kesp::plugins::fpchecker
