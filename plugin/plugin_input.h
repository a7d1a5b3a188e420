// Typed reading of the host's plug-in input data.
#pragma once

#include <cstdint>
#include <string>

#include "kesp/host.h"

namespace kesp::plugins {

// The record under id, which must have the given type. Throws plx::Exception
// when the host has no record or its type differs.
const PluginInputData& readPluginInputData(PluginInput& input, std::uint32_t id,
                                           std::uint32_t type);

// A copy of the string under id (type 4). Throws plx::Exception as above, and
// when the text is null or empty.
std::string readPluginInputString(PluginInput& input, std::uint32_t id);

}  // namespace kesp::plugins
