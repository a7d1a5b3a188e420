#include "foundation/log_adapter.h"

namespace kesp {

namespace {
// The host knows levels 0 to 3; anything else is treated as debug detail.
std::uint32_t toHostLevel(std::uint32_t level) noexcept {
  return level <= HostLogInfo ? level : HostLogDebug;
}
}  // namespace

bool LogAdapter::isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) {
  if (hostLog_ == nullptr) return false;
  // A bool return is read from the low byte of the return register only, so
  // a host that leaves the upper bits undefined is still read correctly.
  return hostLog_->isEnabled(toHostLevel(level), module, flags);
}

void LogAdapter::log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                     const char* text) {
  if (hostLog_ == nullptr) return;
  hostLog_->log(toHostLevel(level), module, flags, text);
}

}  // namespace kesp
