#include <cerrno>

#include "foundation/system_error.h"

namespace plx {

std::uint32_t lastSystemError() noexcept { return static_cast<std::uint32_t>(errno); }

void setLastSystemError(std::uint32_t value) noexcept { errno = static_cast<int>(value); }

}  // namespace plx
