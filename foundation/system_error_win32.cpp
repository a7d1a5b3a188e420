// Win32 only: the thread's last error value.
#include <windows.h>

#include "foundation/system_error.h"

namespace plx {

std::uint32_t lastSystemError() noexcept { return ::GetLastError(); }

void setLastSystemError(std::uint32_t value) noexcept { ::SetLastError(value); }

}  // namespace plx
