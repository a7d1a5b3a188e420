#include "reference/sdk/cloud_protocol.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>

#include <nlohmann/json.hpp>

#include "foundation/proxy_mask.h"
#include "fpcsdk/codes.h"

#ifndef VFPCSDK_VERSION
#error "VFPCSDK_VERSION must name the SDK's version"
#endif

namespace vfpcsdk {

namespace {

std::string lowerCase(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return result;
}

const char* reasonOf(long status) {
  switch (status) {
    case 400: return "bad request";
    case 401: return "unauthorized";
    case 403: return "forbidden";
    case 404: return "not found";
    case 405: return "method not allowed";
    case 408: return "request time-out";
    case 413: return "request too large";
    case 429: return "too many requests";
    case 500: return "internal server error";
    case 502: return "bad gateway";
    case 503: return "service unavailable";
    case 504: return "gateway time-out";
    default: break;
  }
  if (status >= 300 && status < 400) return "a redirect, not followed";
  return nullptr;
}

std::string statusCause(long status) {
  std::string cause = "HTTP " + std::to_string(status);
  if (const char* reason = reasonOf(status)) cause += std::string(" (") + reason + ")";
  return cause;
}

// The verdict of a 200 answer's body: the service's own two bodies are read
// at once, any other by the JSON parser.
std::optional<bool> verdictOf(const std::string& body) {
  if (body == R"({"falsePositive":true})") return true;
  if (body == R"({"falsePositive":false})") return false;
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  const auto verdict = parsed.is_object() ? parsed.find("falsePositive") : parsed.end();
  if (!parsed.is_object() || verdict == parsed.end() || !verdict->is_boolean()) return std::nullopt;
  return verdict->get<bool>();
}

// Texts that are not UTF-8 are sent with the bad bytes replaced rather than
// refused: a detection name is the scanner's, not the host's to mend.
std::string dump(const nlohmann::json& json) {
  return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// A text as JSON (lower-cased if asked): printable ASCII with no quote or
// backslash as it is, any other by the library, whose escapes and
// replacements the body keeps.
void appendText(std::string& out, std::string_view text, bool lower = false) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\\') {
      out += dump(nlohmann::json(lower ? lowerCase(text) : std::string(text)));
      return;
    }
  }
  out += '"';
  const std::size_t start = out.size();
  out += text;
  out += '"';
  if (lower) {
    for (std::size_t at = start; at < start + text.size(); ++at) {
      out[at] = static_cast<char>(std::tolower(static_cast<unsigned char>(out[at])));
    }
  }
}

AttemptResult fromStatus(const HttpOutcome& outcome) {
  AttemptResult result;
  result.breaker = BreakerSignal::Reached;
  result.cause = statusCause(outcome.status);
  switch (outcome.status) {
    case 200: {
      const std::optional<bool> verdict = verdictOf(outcome.body);
      if (!verdict) {
        result.code = CloudError;
        result.cause = "HTTP 200 with a body that is not a verdict";
        return result;
      }
      result.code = Ok;
      result.falsePositive = *verdict;
      result.maxAgeSeconds = maxAgeOf(outcome.cacheControl);
      return result;
    }
    case 401:
    case 403: result.code = Unauthorized; return result;
    case 404: result.code = EndpointNotFound; return result;
    case 408: result.code = TimedOut; return result;
    case 413: result.code = RequestTooLarge; return result;
    case 429: result.code = QuotaLimitReached; return result;
    case 504: result.code = TimedOut; result.retry = true; return result;
    case 502:
    case 503: result.code = CloudError; result.retry = true; return result;
    default: result.code = CloudError; return result;
  }
}

}  // namespace

std::string userAgentFor(std::string_view pluginVersion) {
  return std::string("vfpcsdk/") + VFPCSDK_VERSION + " vfpc-plugin/" + std::string(pluginVersion);
}

std::vector<std::pair<std::string, std::string>> requestHeaders(const CloudConfig& config) {
  std::vector<std::pair<std::string, std::string>> headers = {
      {"Content-Type", "application/json"}, {"User-Agent", config.userAgent}};
  if (!config.apiKey.empty()) headers.emplace_back("X-Api-Key", config.apiKey);
  if (!config.clientId.empty()) headers.emplace_back("X-Client-Id", config.clientId);
  if (!config.clientTag.empty()) headers.emplace_back("X-Client-Tag", config.clientTag);
  return headers;
}

void writeRequestBody(const CloudConfig& config, const fpcsdk::DetectionInput& input,
                      std::string& body) {
  body.clear();
  const fpcsdk::CustomOptions& options = input.customOptions;
  // A JSON object: its members in the order of their names.
  body += "{\"detection\":";
  appendText(body, input.detectionName);
  if (!input.extraData.empty()) {
    body += ",\"extra\":";
    appendText(body, input.extraData);
  }
  body += ",\"host\":";
  appendText(body, config.hostData);
  body += input.filePath.empty() ? ",\"input\":\"memory\"" : ",\"input\":\"file\"";
  if (!options.boolOptions.empty() || !options.intOptions.empty() ||
      !options.stringOptions.empty()) {
    // One member per key, in the order of the keys; a key given as more than
    // one kind keeps the last of bool, int, text.
    nlohmann::json pairs = nlohmann::json::object();
    for (const auto& [key, value] : options.boolOptions) pairs[key] = value;
    for (const auto& [key, value] : options.intOptions) pairs[key] = value;
    for (const auto& [key, value] : options.stringOptions) pairs[key] = value;
    body += ",\"options\":";
    body += dump(pairs);
  }
  if (!input.hash.empty()) {
    body += ",\"sha256\":";
    appendText(body, input.hash, true);
  }
  body += ",\"size\":";
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, input.fileSize);
  body.append(digits, end);
  body += '}';
}

HttpRequest makeRequest(const CloudConfig& config, const fpcsdk::DetectionInput& input) {
  HttpRequest request;
  writeRequestBody(config, input, request.body);
  request.headers = requestHeaders(config);
  return request;
}

AttemptResult judge(const HttpOutcome& outcome) {
  if (outcome.failure == TransportFailure::None) return fromStatus(outcome);
  AttemptResult result;
  const auto failure = [&](std::int32_t code, const char* what, bool retry, BreakerSignal signal) {
    result.code = code;
    result.retry = retry;
    result.breaker = signal;
    result.cause = std::string(what) + ": " + outcome.words;
    return result;
  };
  switch (outcome.failure) {
    case TransportFailure::NameNotResolved:
      return failure(EndpointNotFound, "host name not resolved", false, BreakerSignal::Neutral);
    case TransportFailure::ConnectRefused:
      return failure(ConnectionError, "connection refused", true, BreakerSignal::Failure);
    case TransportFailure::ConnectTimeout:
      return failure(TimedOut, "connect time-out", true, BreakerSignal::Failure);
    case TransportFailure::DataTimeout:
      return failure(TimedOut, "data time-out", true, BreakerSignal::Failure);
    case TransportFailure::ConnectionLost:
      // A check is safe to repeat, but not once part of an answer came: that
      // is a service that fails, not a connection that did.
      return failure(ConnectionError, "connection lost", !outcome.responseStarted,
                     outcome.responseStarted ? BreakerSignal::Reached : BreakerSignal::Failure);
    case TransportFailure::Certificate:
      return failure(CertificateError, "TLS failure", false, BreakerSignal::Reached);
    case TransportFailure::Proxy:
      return failure(ConnectionError, "proxy failure", false, BreakerSignal::Neutral);
    case TransportFailure::BodyTooLarge:
      return failure(CloudError, "response refused", false, BreakerSignal::Reached);
    case TransportFailure::None:
    case TransportFailure::Other:
      break;
  }
  return failure(ConnectionError, "transport failure", false, BreakerSignal::Neutral);
}

std::uint64_t maxAgeOf(std::string_view cacheControl) {
  const std::string text = lowerCase(cacheControl);
  std::uint64_t maxAge = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    std::string_view directive(text.data() + start, end - start);
    while (!directive.empty() && directive.front() == ' ') directive.remove_prefix(1);
    while (!directive.empty() && directive.back() == ' ') directive.remove_suffix(1);
    if (directive == "no-store" || directive == "no-cache") return 0;
    constexpr std::string_view kMaxAge = "max-age=";
    if (directive.substr(0, kMaxAge.size()) == kMaxAge) {
      const std::string_view digits = directive.substr(kMaxAge.size());
      std::uint64_t value = 0;
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
      if (error == std::errc::result_out_of_range) {
        value = UINT64_MAX;
      } else if (error != std::errc() || end != digits.data() + digits.size()) {
        value = 0;
      }
      maxAge = value;
    }
    start = end + 1;
  }
  return maxAge;
}

std::chrono::milliseconds backoffLimit(std::uint32_t failedAttempt) {
  constexpr std::chrono::milliseconds kFirst{100};
  constexpr std::chrono::milliseconds kMost{2000};
  if (failedAttempt == 0) return kFirst;
  const std::uint32_t doublings = std::min<std::uint32_t>(failedAttempt - 1, 5);  // 3.2 s > 2 s
  return std::min(kFirst * (1 << doublings), kMost);
}

std::string describeCheck(const fpcsdk::DetectionInput& input) {
  std::string text = "'" + input.detectionName + "'";
  if (!input.hash.empty()) text += " hash " + input.hash;
  return text + " size " + std::to_string(input.fileSize);
}

std::string withoutSecrets(std::string text, std::string_view first, std::string_view second) {
  for (const std::string_view secret : {first, second}) {
    if (secret.empty()) continue;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + plx::kMaskedPassword.size())) {
      text.replace(at, secret.size(), plx::kMaskedPassword);
    }
  }
  return text;
}

}  // namespace vfpcsdk
