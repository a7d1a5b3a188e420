// Where the reference SDK library itself lies: its rules file is beside it.
#pragma once

#include <filesystem>

namespace vfpcsdk {

// The directory of the loaded library that holds this code (dladdr on POSIX,
// GetModuleFileNameW on Windows). Throws std::runtime_error with the
// system's reason when the platform cannot tell.
std::filesystem::path moduleDirectory();

}  // namespace vfpcsdk
