// The log parameters of every message of this plug-in.
#pragma once

#include <cstdint>

#include "foundation/logger.h"

namespace kesp::plugins::fpchecker {

inline constexpr std::uint32_t kLogModule = 5;
inline constexpr std::uint32_t kLogFlags = 0;

inline plx::LogChannel pluginLog(const plx::Logger& logger) noexcept {
  return plx::LogChannel(logger, kLogModule, kLogFlags);
}

}  // namespace kesp::plugins::fpchecker
