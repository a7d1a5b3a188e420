#include "sdk_bridge/sdk_error.h"

#include <exception>
#include <new>
#include <string>

#include "foundation/exceptions.h"

namespace kesp::plugins::fpchecker {

// The SDK's header states each code's status as a number of its own; it must
// be the same Status the host knows by that name.
static_assert(fpcsdk::codeMeaning(fpcsdk::NotInitialized).hostStatus ==
              static_cast<std::uint32_t>(Status::NotInitialized));
static_assert(fpcsdk::codeMeaning(fpcsdk::OutOfMemory).hostStatus ==
              static_cast<std::uint32_t>(Status::OutOfMemory));
static_assert(fpcsdk::codeMeaning(fpcsdk::CloudError).hostStatus ==
              static_cast<std::uint32_t>(Status::CloudError));

const char* sdkErrorToString(std::int32_t code) {
  // Negative codes are unknown too; this message shows them as unsigned.
  if (!fpcsdk::isKnownCode(code)) {
    throw InternalException("VFPC SDK error '" + std::to_string(static_cast<std::uint32_t>(code)) +
                            "' is not yet mapped to a string description");
  }
  return fpcsdk::codeMeaning(code).text;
}

Status sdkErrorToStatus(std::int32_t code) {
  if (!fpcsdk::isKnownCode(code)) {
    throw InternalException("VFPC SDK error '" + std::to_string(code) +
                            "' is not yet mapped to any interface error");
  }
  return static_cast<Status>(fpcsdk::codeMeaning(code).hostStatus);
}

void rethrowFromSdk(const char* operation) {
  const std::string prefix = std::string("VFPC SDK threw an exception from ") + operation;
  try {
    throw;
  } catch (const std::bad_alloc&) {
    throw std::bad_alloc();
  } catch (const std::exception& error) {
    throw SdkException(prefix + ": " + error.what());
  } catch (...) {
    throw SdkException(prefix + " that is not a standard exception");
  }
}

}  // namespace kesp::plugins::fpchecker
