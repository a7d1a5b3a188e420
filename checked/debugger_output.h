// Where a line goes beside standard error when no host log takes it.
#pragma once

namespace kesp::checked {

// Hands /*in*/ line (ASCII) to an attached debugger, where the platform has
// such a channel; never fails.
void sendToDebugger(const char* line) noexcept;

}  // namespace kesp::checked
