// The codes every operation of the checker SDK interface returns. The
// numbers are the interface's own; the plug-in maps them to host statuses.
#pragma once

#include <cstdint>

namespace vfpcsdk {

enum Code : std::int32_t {
  Ok = 0,
  InvalidParameters = 1,
  NotInitialized = 2,
  AlreadyInitialized = 3,
  OutOfMemory = 4,
  Unauthorized = 5,
  TimedOut = 6,
  CertificateError = 7,
  EndpointNotFound = 8,
  RequestTooLarge = 9,
  QuotaLimitReached = 10,
  ConnectionError = 11,
  CloudError = 12,
};

}  // namespace vfpcsdk
