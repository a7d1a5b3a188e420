// A host log whose class the caller's translation unit cannot see, so that a
// call to it stays the indirect call a plug-in makes into its host: where the
// class is visible, the compiler turns the call into a direct one, or
// removes it.
#pragma once

#include "kesp/host.h"

namespace kesp::bench {

// Wants level 0 only; lives for the whole program.
kesp::HostLog& opaqueErrorsOnlyHostLog();

}  // namespace kesp::bench
