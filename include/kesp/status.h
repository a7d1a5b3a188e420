// The status every status-returning host operation of the FP checker returns.
#pragma once

#include <cstdint>

namespace kesp::plugins::fpchecker {

// A 32-bit status. The plug-in returns only the values below; a host must
// treat any other value as Error.
enum class Status : std::uint32_t {
  Success = 0,
  Error = 1,               // invalid input or configuration, unknown command,
                           // or an unexpected failure inside the plug-in
  OutOfMemory = 2,         // memory exhausted, or a file object could not be made
  NotInitialized = 3,      // the checker (or the checker SDK) is not loaded
  AlreadyInitialized = 4,  // load requested while loaded
  NotSupported = 5,        // API version, command or option not supported
  InUse = 6,               // unload refused: instances still exist
  LoadFailed = 7,          // the checker SDK library could not be loaded
  TimedOut = 8,            // from the checker SDK
  ConnectionError = 9,     // from the checker SDK
  CertificateError = 10,   // from the checker SDK
  CloudError = 11,         // from the checker SDK
};

}  // namespace kesp::plugins::fpchecker
