// Making the plug-in object, as KESPGetPlugin does. Shared by the release
// library's entry point and the checked library's, which hands the plug-in
// object a stand-in for the host's input.
#pragma once

#include "kesp/plugin.h"

namespace kesp::plugins::fpchecker {

// Reads the host log from /*in*/ input into /*out*/ hostLog; false when the
// host's getLog throws (there is nowhere to report that).
bool readHostLog(PluginInput& input, HostLog*& hostLog) noexcept;

// A new plug-in object made from /*in*/ input, owned by the caller, or null.
// A failure is reported to failureLog (may be null) by the boundary rule.
PluginV1* createPluginObject(PluginInput& input, HostLog* failureLog) noexcept;

}  // namespace kesp::plugins::fpchecker
