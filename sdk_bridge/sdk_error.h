// The checker SDK's codes (fpcsdk/codes.h) as log text and as host status,
// and what the SDK throws. Every code the SDK returns is read through these
// two functions and nothing else, and every call into the SDK goes through
// callSdk.
#pragma once

#include <cstdint>

#include "foundation/exceptions.h"
#include "fpcsdk/codes.h"
#include "kesp/status.h"

namespace kesp::plugins::fpchecker {

// The static text of a code; throws kesp::InternalException for a code that
// is not 0 to 12.
const char* sdkErrorToString(std::int32_t code);

// The host status of a code; throws kesp::InternalException for a code that
// is not 0 to 12.
Status sdkErrorToStatus(std::int32_t code);

// An exception that left the SDK, as the plug-in's own. what() says so and
// names the operation: "VFPC SDK threw an exception from checkDetection:
// <the SDK's text>".
class SdkException : public plx::Exception {
 public:
  using plx::Exception::Exception;
  const char* getDescription() const noexcept override { return "VFPC SDK threw an exception"; }
};

// Replaces the exception in flight, thrown by the SDK's operation, with one
// that belongs to the plug-in: std::bad_alloc stays memory exhaustion, any
// other becomes an SdkException. The SDK's exception object and its type
// information may live in the SDK library, which a failed load or an unload
// frees before any catcher could look at them. Call only in a catch block,
// while the library is mapped.
[[noreturn]] void rethrowFromSdk(const char* operation);

// Runs body, a call of the SDK's operation, and returns what it returns.
template <class Body>
decltype(auto) callSdk(const char* operation, Body&& body) {
  try {
    return body();
  } catch (...) {
    rethrowFromSdk(operation);
  }
}

}  // namespace kesp::plugins::fpchecker
