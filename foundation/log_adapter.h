// The sink that forwards the plug-in's log lines to the host's log object.
#pragma once

#include <cstdint>

#include "foundation/logger.h"
#include "kesp/host.h"

namespace kesp {

class LogAdapter final : public plx::LogInterface {
 public:
  // hostLog may be null (nothing is logged); it is not owned.
  explicit LogAdapter(HostLog* hostLog) noexcept : hostLog_(hostLog) {}

  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;

  HostLog* hostLog() const noexcept { return hostLog_; }

 private:
  HostLog* hostLog_;
};

}  // namespace kesp
