// The codes every operation of the checker SDK interface returns (fpcsdk.h),
// with the text the plug-in writes for each and the host status each
// becomes. No other code exists: the plug-in answers any other with an
// internal error [codes].
//
// Self-contained: this header needs the C++ standard library only. Plain
// functions rather than tables, so that an SDK that uses them gains no
// symbol of its own (see SDK.md, the SDK builder's guide, on staying unloadable).
#pragma once

#include <cstdint>

namespace fpcsdk {

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

// 0 to 12; a negative code is unknown too.
constexpr bool isKnownCode(std::int32_t code) noexcept { return code >= Ok && code <= CloudError; }

// What the plug-in makes of a known code: its text in log lines, and the
// host status (the numbering of kesp/status.h, not the codes') with its name.
struct CodeMeaning {
  const char* text;
  std::uint32_t hostStatus;
  const char* hostStatusName;
};

// The meaning of a known code. An unknown one is an internal error of the
// plug-in: "unknown code", Error.
constexpr CodeMeaning codeMeaning(std::int32_t code) noexcept {
  switch (code) {
    case Ok: return {"ok", 0, "Success"};
    case InvalidParameters: return {"invalid parameters", 1, "Error"};
    case NotInitialized: return {"not initialized", 3, "NotInitialized"};
    case AlreadyInitialized: return {"already initialized", 4, "AlreadyInitialized"};
    case OutOfMemory: return {"out of memory", 2, "OutOfMemory"};
    case Unauthorized: return {"unauthorized", 11, "CloudError"};
    case TimedOut: return {"timed out", 8, "TimedOut"};
    case CertificateError: return {"SSL certificate error", 10, "CertificateError"};
    case EndpointNotFound: return {"endpoint not found", 9, "ConnectionError"};
    case RequestTooLarge: return {"request too large", 11, "CloudError"};
    case QuotaLimitReached: return {"quota limit reached", 11, "CloudError"};
    case ConnectionError: return {"connection error", 9, "ConnectionError"};
    case CloudError: return {"cloud error", 11, "CloudError"};
    default: return {"unknown code", 1, "Error"};
  }
}

}  // namespace fpcsdk
