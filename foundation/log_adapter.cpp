#include "foundation/log_adapter.h"

namespace kesp {

namespace {
// The host knows levels 0 to 3; anything else is treated as debug detail.
std::uint32_t toHostLevel(std::uint32_t level) noexcept {
  return level <= HostLogInfo ? level : HostLogDebug;
}

// Slot 0 of the host log's table as the machine sees it: a function taking
// the object and the three numbers and answering in one byte. Only that low
// byte is defined: a host built by another compiler may return 2 or 0xFF for
// true and leave the upper bits as they were. Read as a C++ bool, such an
// answer is undefined and an optimiser may test a single bit of it; read
// through the table as a byte, it is exactly what the host returned.
using IsEnabledSlot = std::uint8_t (*)(HostLog* self, std::uint32_t level, std::uint32_t module,
                                       std::uint32_t flags);

std::uint8_t askHost(HostLog* hostLog, std::uint32_t level, std::uint32_t module,
                     std::uint32_t flags) {
  const auto* table = *reinterpret_cast<IsEnabledSlot* const*>(hostLog);
  return table[0](hostLog, level, module, flags);
}
}  // namespace

bool LogAdapter::isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) {
  if (hostLog_ == nullptr) return false;
  return askHost(hostLog_, toHostLevel(level), module, flags) != 0;
}

// The host's object comes from another module and need not carry type
// information the sanitizer knows.
__attribute__((no_sanitize("vptr"))) void LogAdapter::log(std::uint32_t level,
                                                          std::uint32_t module,
                                                          std::uint32_t flags, const char* text) {
  if (hostLog_ == nullptr) return;
  hostLog_->log(toHostLevel(level), module, flags, text);
}

}  // namespace kesp
