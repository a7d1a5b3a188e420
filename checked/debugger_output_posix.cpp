// POSIX has no debugger output channel: standard error is all there is.
#include "checked/debugger_output.h"

namespace kesp::checked {

void sendToDebugger(const char*) noexcept {}

}  // namespace kesp::checked
