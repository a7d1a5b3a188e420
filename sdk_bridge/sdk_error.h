// The checker SDK's error codes, as log text and as host status. Every code
// the SDK returns is read through these two functions and nothing else.
#pragma once

#include <cstdint>

#include "kesp/status.h"

namespace kesp::plugins::fpchecker {

enum SdkError : std::int32_t {
  SdkOk = 0,
  SdkInvalidParameters = 1,
  SdkNotInitialized = 2,
  SdkAlreadyInitialized = 3,
  SdkOutOfMemory = 4,
  SdkUnauthorized = 5,
  SdkTimedOut = 6,
  SdkCertificateError = 7,
  SdkEndpointNotFound = 8,
  SdkRequestTooLarge = 9,
  SdkQuotaLimitReached = 10,
  SdkConnectionError = 11,
  SdkCloudError = 12,
};

// The static text of a code; throws kesp::InternalException for a code that
// is not 0 to 12.
const char* sdkErrorToString(std::int32_t code);

// The host status of a code; throws kesp::InternalException for a code that
// is not 0 to 12.
Status sdkErrorToStatus(std::int32_t code);

}  // namespace kesp::plugins::fpchecker
