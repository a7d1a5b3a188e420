#include "sdk_bridge/sdk_error.h"

#include <iterator>
#include <string>

#include "foundation/exceptions.h"

namespace kesp::plugins::fpchecker {

namespace {

struct SdkErrorRow {
  const char* text;
  Status status;
};

// Indexed by the SDK code. The two numberings differ: SDK 2 is
// NotInitialized (3), SDK 4 is OutOfMemory (2).
constexpr SdkErrorRow kSdkErrors[] = {
    {"ok", Status::Success},
    {"invalid parameters", Status::Error},
    {"not initialized", Status::NotInitialized},
    {"already initialized", Status::AlreadyInitialized},
    {"out of memory", Status::OutOfMemory},
    {"unauthorized", Status::CloudError},
    {"timed out", Status::TimedOut},
    {"SSL certificate error", Status::CertificateError},
    {"endpoint not found", Status::ConnectionError},
    {"request too large", Status::CloudError},
    {"quota limit reached", Status::CloudError},
    {"connection error", Status::ConnectionError},
    {"cloud error", Status::CloudError},
};

// Negative codes are unknown too: they are compared as unsigned.
bool isKnown(std::int32_t code) noexcept {
  return static_cast<std::uint32_t>(code) < std::size(kSdkErrors);
}

}  // namespace

const char* sdkErrorToString(std::int32_t code) {
  if (!isKnown(code)) {
    throw InternalException("VFPC SDK error '" + std::to_string(static_cast<std::uint32_t>(code)) +
                            "' is not yet mapped to a string description");
  }
  return kSdkErrors[code].text;
}

Status sdkErrorToStatus(std::int32_t code) {
  if (!isKnown(code)) {
    throw InternalException("VFPC SDK error '" + std::to_string(code) +
                            "' is not yet mapped to any interface error");
  }
  return kSdkErrors[code].status;
}

}  // namespace kesp::plugins::fpchecker
