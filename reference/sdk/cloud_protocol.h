// The cloud protocol's rules, the same for every transport: what a check
// sends, what each outcome of an attempt means (its SDK code, whether
// another attempt may cure it, what the breaker makes of it), the back-off
// between attempts and the texts of the log lines.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fpcsdk/codes.h"
#include "fpcsdk/fpcsdk.h"
#include "reference/sdk/http_transport.h"

namespace vfpcsdk {

// The interface's codes, by their names.
using enum fpcsdk::Code;

// The settings of initialize that every request of the SDK object shares.
struct CloudConfig {
  std::string url;
  std::string apiKey;     // sdkText1; never logged
  std::string clientId;   // sdkText4
  std::string clientTag;  // sdkText7
  std::string userAgent;
  std::string hostData;
  std::uint64_t connectTimeoutMs = 0;
  std::uint64_t dataTimeoutMs = 0;
  std::uint32_t attempts = 1;
};

// "vfpcsdk/<sdk version> vfpc-plugin/<plug-in version>".
std::string userAgentFor(std::string_view pluginVersion);

// The request of one check. The file path is never sent: a path can name a
// person.
HttpRequest makeRequest(const CloudConfig& config, const fpcsdk::DetectionInput& input);
// Its two parts: the headers, the same for every check of an SDK object,
// and the body of one check (written over body, whose room is kept).
std::vector<std::pair<std::string, std::string>> requestHeaders(const CloudConfig& config);
void writeRequestBody(const CloudConfig& config, const fpcsdk::DetectionInput& input,
                      std::string& body);

// What the breaker makes of an attempt.
enum class BreakerSignal {
  Failure,  // a retried transport failure: one more of the run
  Reached,  // the service answered (any HTTP response, or its TLS failed): the run ends
  Neutral,  // neither (a name that does not resolve, a proxy failure)
};

// The meaning of one attempt.
struct AttemptResult {
  std::int32_t code = 0;  // Ok, or the SDK code of the failure
  bool falsePositive = false;
  bool retry = false;  // another attempt may cure it
  BreakerSignal breaker = BreakerSignal::Neutral;
  std::string cause;  // "HTTP 503 (service unavailable)", "connection refused: <words>"
  std::uint64_t maxAgeSeconds = 0;  // how long the verdict may be kept
};

AttemptResult judge(const HttpOutcome& outcome);

// Seconds from Cache-Control: max-age=N; 0 for no-store, no-cache, none.
std::uint64_t maxAgeOf(std::string_view cacheControl);

// The longest wait after the given failed attempt (1, 2, ...): 100 ms x
// 2^(attempt-1), at most 2 s. The SDK waits a random time up to it.
std::chrono::milliseconds backoffLimit(std::uint32_t failedAttempt);

// 'Name' hash H size N, for log lines (the path is left out).
std::string describeCheck(const fpcsdk::DetectionInput& input);

// The text with every occurrence of each secret (non-empty) replaced by ***.
std::string withoutSecrets(std::string text, std::string_view first, std::string_view second);

}  // namespace vfpcsdk
