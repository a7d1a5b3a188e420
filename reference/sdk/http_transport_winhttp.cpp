// The transport on WinHTTP (Windows): one session and one connection handle
// per SDK instance, so the instance keeps its own connection alive between
// checks. Synchronous calls; the status callback only watches the request's
// phases (the request about to go out, response data coming in) and is
// where a certificate path's own verification happens. A failure is told by
// what WinHTTP reports: its error code and the phase the request reached.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>

#include "foundation/unique_resource.h"
#include "reference/sdk/certificate_trust_win32.h"
#include "reference/sdk/http_transport.h"

namespace vfpcsdk {

namespace {

std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  if (size <= 0) return {};
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        size);
  return result;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        size, nullptr, nullptr);
  return result;
}

int clampMs(std::uint64_t ms) { return static_cast<int>(std::min<std::uint64_t>(ms, INT_MAX)); }

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle handle) noexcept { ::WinHttpCloseHandle(handle); }
};
using InternetHandle = plx::UniqueResource<InternetTraits>;

// Every WinHTTP error the SDK tells apart, in one table: its name for the
// log line and the failure it is. A time-out is a connect time-out until the
// request goes out, a data time-out after.
struct ErrorKind {
  DWORD code;
  const char* name;
  TransportFailure failure;
};
constexpr TransportFailure kByPhase = TransportFailure::Other;  // ConnectTimeout or DataTimeout
constexpr std::array<ErrorKind, 23> kErrors = {{
    {ERROR_WINHTTP_TIMEOUT, "ERROR_WINHTTP_TIMEOUT", kByPhase},
    {ERROR_WINHTTP_NAME_NOT_RESOLVED, "ERROR_WINHTTP_NAME_NOT_RESOLVED",
     TransportFailure::NameNotResolved},
    {ERROR_WINHTTP_CANNOT_CONNECT, "ERROR_WINHTTP_CANNOT_CONNECT",
     TransportFailure::ConnectRefused},
    {ERROR_WINHTTP_CONNECTION_ERROR, "ERROR_WINHTTP_CONNECTION_ERROR",
     TransportFailure::ConnectionLost},
    {ERROR_WINHTTP_SECURE_FAILURE, "ERROR_WINHTTP_SECURE_FAILURE", TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "ERROR_WINHTTP_SECURE_CERT_DATE_INVALID",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "ERROR_WINHTTP_SECURE_CERT_CN_INVALID",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_INVALID_CA, "ERROR_WINHTTP_SECURE_INVALID_CA",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CERT_REV_FAILED, "ERROR_WINHTTP_SECURE_CERT_REV_FAILED",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "ERROR_WINHTTP_SECURE_CHANNEL_ERROR",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_INVALID_CERT, "ERROR_WINHTTP_SECURE_INVALID_CERT",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CERT_REVOKED, "ERROR_WINHTTP_SECURE_CERT_REVOKED",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, "ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED, "ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED",
     TransportFailure::Certificate},
    {ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "ERROR_WINHTTP_INVALID_SERVER_RESPONSE",
     TransportFailure::Other},
    {ERROR_WINHTTP_REDIRECT_FAILED, "ERROR_WINHTTP_REDIRECT_FAILED", TransportFailure::Other},
    {ERROR_WINHTTP_RESEND_REQUEST, "ERROR_WINHTTP_RESEND_REQUEST", TransportFailure::Other},
    {ERROR_WINHTTP_LOGIN_FAILURE, "ERROR_WINHTTP_LOGIN_FAILURE", TransportFailure::Proxy},
    {ERROR_WINHTTP_OPERATION_CANCELLED, "ERROR_WINHTTP_OPERATION_CANCELLED",
     TransportFailure::Other},
    // Wine's WinHTTP passes some socket errors through unchanged.
    {WSAECONNREFUSED, "WSAECONNREFUSED", TransportFailure::ConnectRefused},
    {WSAECONNRESET, "WSAECONNRESET", TransportFailure::ConnectionLost},
    {WSAECONNABORTED, "WSAECONNABORTED", TransportFailure::ConnectionLost},
    {WSAETIMEDOUT, "WSAETIMEDOUT", kByPhase},
}};

// The flags of WINHTTP_CALLBACK_STATUS_SECURE_FAILURE, for the words.
constexpr std::array<std::pair<DWORD, const char*>, 7> kSecureFlags = {{
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED, "revocation check failed"},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT, "invalid certificate"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, "certificate revoked"},
    {WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA, "unknown certificate authority"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID, "the certificate does not name the server"},
    {WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID, "certificate expired or not yet valid"},
    {WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, "TLS channel error"},
}};

// A proxy as WinHTTP takes it: its server and its basic credentials.
struct ProxyParts {
  std::wstring server;  // host:port
  std::wstring user;
  std::wstring password;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// User and password are percent-decoded, as libcurl does.
std::string percentDecoded(const std::string& text) {
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      result += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      result += text[i];
    }
  }
  return result;
}

// The proxy's scheme, lower case; "http" when it names none.
std::string schemeOf(const std::string& proxy) {
  const std::size_t end = proxy.find("://");
  if (end == std::string::npos) return "http";
  std::string scheme = proxy.substr(0, end);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

ProxyParts proxyParts(const std::string& proxy) {
  ProxyParts parts;
  const std::size_t schemeEnd = proxy.find("://");
  std::string rest = schemeEnd == std::string::npos ? proxy : proxy.substr(schemeEnd + 3);
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const std::size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    const std::string userInfo = rest.substr(0, at);
    const std::size_t colon = userInfo.find(':');
    parts.user = wide(percentDecoded(userInfo.substr(0, colon)));
    if (colon != std::string::npos) parts.password = wide(percentDecoded(userInfo.substr(colon + 1)));
    rest = rest.substr(at + 1);
  }
  // No port: 1080, libcurl's default for a proxy, so that one setting reaches
  // the same proxy on every platform.
  const std::size_t bracket = rest.rfind(']');
  const std::size_t colon = rest.rfind(':');
  const bool hasPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
  parts.server = wide(hasPort ? rest : rest + ":1080");
  return parts;
}

class WinHttpTransport final : public HttpTransport {
 public:
  explicit WinHttpTransport(const TransportSettings& settings);
  HttpOutcome post(const HttpRequest& request) override;

 private:
  static void CALLBACK onStatus(HINTERNET request, DWORD_PTR context, DWORD status, LPVOID info,
                                DWORD length);
  void beforeSending(HINTERNET request);
  HttpOutcome failure(DWORD error);
  DWORD proxyRefusal(HINTERNET request, DWORD error) const;
  HttpOutcome readResponse(HINTERNET request);

  TransportSettings settings_;
  std::wstring host_;
  std::wstring path_;
  INTERNET_PORT port_ = 0;
  bool secure_ = false;
  ProxyParts proxy_;
  std::optional<CertificateTrust> trust_;
  InternetHandle session_;
  InternetHandle connection_;

  // The current request's state, written by the callback.
  std::string* body_ = nullptr;  // what is about to go out, blanked when refused
  bool requestSent_ = false;
  bool certificateRefused_ = false;
  DWORD secureFlags_ = 0;
  HttpOutcome outcome_;
};

WinHttpTransport::WinHttpTransport(const TransportSettings& settings) : settings_(settings) {
  const std::wstring url = wide(settings_.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    throw std::runtime_error("WinHTTP cannot read the cloud URL");
  }
  host_.assign(parts.lpszHostName, parts.dwHostNameLength);
  path_.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  path_.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path_.empty()) path_ = L"/";
  port_ = parts.nPort;
  secure_ = parts.nScheme == INTERNET_SCHEME_HTTPS;

  // Only the configured proxy, never the system's; loopback goes through it
  // too ("<-loopback>"), since a test's proxy is on loopback.
  if (settings_.proxy.empty()) {
    session_.reset(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0));
  } else {
    proxy_ = proxyParts(settings_.proxy);
    session_.reset(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy_.server.c_str(),
                                 L"<-loopback>", 0));
  }
  if (!session_) throw std::runtime_error("WinHTTP cannot open a session");
  // Redirects are never followed: the API key would travel with them.
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  ::WinHttpSetOption(session_.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  if (::WinHttpSetStatusCallback(
          session_.get(), &WinHttpTransport::onStatus,
          WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE |
              WINHTTP_CALLBACK_FLAG_SECURE_FAILURE,
          0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    throw std::runtime_error("WinHTTP refused the status callback");
  }
  connection_.reset(::WinHttpConnect(session_.get(), host_.c_str(), port_, 0));
  if (!connection_) throw std::runtime_error("WinHTTP cannot make a connection");
  if (secure_ && !settings_.certificatePath.empty()) {
    trust_.emplace(settings_.certificatePath, settings_.certificateDirectory);
  }
}

void CALLBACK WinHttpTransport::onStatus(HINTERNET request, DWORD_PTR context, DWORD status,
                                         LPVOID info, DWORD length) {
  auto* self = reinterpret_cast<WinHttpTransport*>(context);
  if (self == nullptr) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
      self->beforeSending(request);
      break;
    case WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED:
      if (self->requestSent_ && info != nullptr && length >= sizeof(DWORD) &&
          *static_cast<DWORD*>(info) > 0) {
        self->outcome_.responseStarted = true;
      }
      break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      if (info != nullptr && length >= sizeof(DWORD)) self->secureFlags_ |= *static_cast<DWORD*>(info);
      break;
    default:
      break;
  }
}

// The connection (through any proxy, TLS included) stands and the request is
// about to go out: from here every wait is for data, and with a certificate
// path this is the last moment to refuse the server before its headers, API
// key included, leave.
void WinHttpTransport::beforeSending(HINTERNET request) {
  requestSent_ = true;
  DWORD dataMs = static_cast<DWORD>(clampMs(settings_.dataTimeoutMs));
  ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &dataMs, sizeof dataMs);
  if (!trust_) return;
  PCCERT_CONTEXT context = nullptr;
  DWORD size = sizeof context;
  std::string why;
  bool trusted = false;
  if (::WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &context, &size) &&
      context != nullptr) {
    const Certificate server(context);
    trusted = trust_->verify(server.get(), host_, why);
  } else {
    why = "the server's certificate is not available";
  }
  if (trusted) return;
  certificateRefused_ = true;
  outcome_.words = why;
  // Closing the request cancels it before it is sent; the body is blanked as
  // well, for a stack that sends what it has already built.
  if (body_ != nullptr) std::fill(body_->begin(), body_->end(), ' ');
  ::WinHttpCloseHandle(request);
}

// The proxy's answer to CONNECT when it refused the tunnel (its 407
// included), 0 otherwise: WinHTTP keeps that answer as the request's status
// and then fails the handshake that was never possible.
//
// Wine's WinHTTP (8.0) reports less. It keeps the answer but will not give it
// before a response came (ERROR_WINHTTP_INCORRECT_HANDLE_STATE), and it
// reports a refused tunnel, a server certificate it does not trust and a
// handshake that the time-out cut short alike: a channel error, with no
// certificate fault and no phase past the connect. So there a channel error
// through the proxy with no readable answer is taken for a refused tunnel
// (kUnreadableRefusal), and its words say that it may be the server's TLS.
// Where the status query answers, as on Windows, this does not apply.
constexpr DWORD kUnreadableRefusal = ~DWORD{0};

DWORD WinHttpTransport::proxyRefusal(HINTERNET request, DWORD error) const {
  if (settings_.proxy.empty() || !secure_ || requestSent_) return 0;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return ::GetLastError() == ERROR_WINHTTP_INCORRECT_HANDLE_STATE &&
                   error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR && secureFlags_ == 0
               ? kUnreadableRefusal
               : 0;
  }
  return status >= 300 ? status : 0;
}

HttpOutcome WinHttpTransport::failure(DWORD error) {
  HttpOutcome outcome = std::move(outcome_);
  outcome_ = HttpOutcome{};
  if (certificateRefused_) {
    outcome.failure = TransportFailure::Certificate;
    return outcome;
  }
  if (error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY) throw std::bad_alloc();
  const auto known = std::find_if(kErrors.begin(), kErrors.end(),
                                  [&](const ErrorKind& kind) { return kind.code == error; });
  outcome.words = known != kErrors.end() ? std::string(known->name) : "WinHTTP error";
  outcome.words += " (" + std::to_string(error) + ")";
  outcome.failure = known != kErrors.end() ? known->failure : TransportFailure::Other;
  if (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT) {
    // The phase decides: until the request goes out (resolve, connect, the
    // TLS handshake) the connect time-out ran out, after it the data
    // time-out. Wine's WinHTTP (8.0) reports a handshake that the time-out
    // cut short as a channel error instead, as it does a certificate it does
    // not trust: there that is a TLS failure.
    outcome.failure = requestSent_ ? TransportFailure::DataTimeout : TransportFailure::ConnectTimeout;
    if (requestSent_) {
      outcome.words = "no response data within " + std::to_string(settings_.dataTimeoutMs) + " ms";
    }
  }
  // With a proxy, the name WinHTTP resolves is the proxy's, and a login
  // failure is the proxy's too.
  if (!settings_.proxy.empty() && error == ERROR_WINHTTP_NAME_NOT_RESOLVED) {
    outcome.failure = TransportFailure::Proxy;
  }
  if (outcome.failure == TransportFailure::Certificate && secureFlags_ != 0) {
    std::string flags;
    for (const auto& [flag, text] : kSecureFlags) {
      if ((secureFlags_ & flag) == 0) continue;
      flags += flags.empty() ? "" : ", ";
      flags += text;
    }
    outcome.words += ": " + flags;
  }
  if (error == ERROR_WINHTTP_INVALID_SERVER_RESPONSE) outcome.responseStarted = true;
  return outcome;
}

HttpOutcome WinHttpTransport::post(const HttpRequest& request) {
  outcome_ = HttpOutcome{};
  requestSent_ = false;
  certificateRefused_ = false;
  secureFlags_ = 0;

  InternetHandle handle(::WinHttpOpenRequest(connection_.get(), L"POST", path_.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             secure_ ? WINHTTP_FLAG_SECURE : 0));
  if (!handle) return failure(::GetLastError());
  // Resolve, connect and (WinHTTP bounds the handshake by the response's
  // time-out) the TLS handshake take the connect time-out; once the request
  // goes out, the callback gives every wait for data the data time-out.
  const int connectMs = clampMs(settings_.connectTimeoutMs);
  const int dataMs = clampMs(settings_.dataTimeoutMs);
  ::WinHttpSetTimeouts(handle.get(), connectMs, connectMs, dataMs, dataMs);
  DWORD handshakeMs = static_cast<DWORD>(connectMs);
  ::WinHttpSetOption(handle.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &handshakeMs,
                     sizeof handshakeMs);
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  ::WinHttpSetOption(handle.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects,
                     sizeof noRedirects);
  if (trust_) {
    // Only the root is left to the SDK's own check: validity, name and the
    // rest of the chain are still the handshake's to refuse.
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    ::WinHttpSetOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  if (!proxy_.user.empty()) {
    ::WinHttpSetCredentials(handle.get(), WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                            proxy_.user.c_str(), proxy_.password.c_str(), nullptr);
  }

  std::wstring headers;
  for (const auto& [name, value] : request.headers) headers += wide(name + ": " + value) + L"\r\n";
  std::string body = request.body;
  body_ = &body;
  struct Forget {
    std::string*& body;
    ~Forget() { body = nullptr; }
  } forget{body_};

  if (!::WinHttpSendRequest(handle.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                            body.data(), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), reinterpret_cast<DWORD_PTR>(this))) {
    const DWORD error = ::GetLastError();
    if (certificateRefused_) {
      static_cast<void>(handle.release());  // closed by the check
    } else if (const DWORD refusal = proxyRefusal(handle.get(), error); refusal != 0) {
      HttpOutcome outcome = std::move(outcome_);
      outcome_ = HttpOutcome{};
      outcome.failure = TransportFailure::Proxy;
      outcome.words = refusal == kUnreadableRefusal
                          ? "no TLS handshake through the proxy, which gave no answer to read: "
                            "it refused the tunnel, or the server's TLS failed "
                            "(ERROR_WINHTTP_SECURE_CHANNEL_ERROR (12157))"
                          : "the proxy answered " + std::to_string(refusal) + " to CONNECT";
      return outcome;
    }
    return failure(error);
  }
  if (certificateRefused_) {
    static_cast<void>(handle.release());  // closed by the check
    return failure(ERROR_WINHTTP_OPERATION_CANCELLED);
  }
  if (!::WinHttpReceiveResponse(handle.get(), nullptr)) return failure(::GetLastError());
  return readResponse(handle.get());
}

HttpOutcome WinHttpTransport::readResponse(HINTERNET request) {
  outcome_.responseStarted = true;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return failure(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
  }
  outcome_.status = static_cast<long>(status);
  DWORD length = 0;
  if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_CACHE_CONTROL, WINHTTP_HEADER_NAME_BY_INDEX,
                             WINHTTP_NO_OUTPUT_BUFFER, &length, WINHTTP_NO_HEADER_INDEX) &&
      ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && length > 0) {
    std::wstring value(length / sizeof(wchar_t), L'\0');
    if (::WinHttpQueryHeaders(request, WINHTTP_QUERY_CACHE_CONTROL, WINHTTP_HEADER_NAME_BY_INDEX,
                              value.data(), &length, WINHTTP_NO_HEADER_INDEX)) {
      value.resize(length / sizeof(wchar_t));
      outcome_.cacheControl = narrow(value);
    }
  }
  // 407 only ever comes from a proxy (a request in absolute form, or its
  // answer to CONNECT).
  if (status == 407 && !settings_.proxy.empty()) {
    HttpOutcome outcome = std::move(outcome_);
    outcome_ = HttpOutcome{};
    outcome.failure = TransportFailure::Proxy;
    outcome.words = "the proxy answered 407 (authentication required)";
    return outcome;
  }
  char buffer[8192];
  for (;;) {
    DWORD read = 0;
    if (!::WinHttpReadData(request, buffer, sizeof buffer, &read)) return failure(::GetLastError());
    if (read == 0) break;
    if (outcome_.body.size() + read > kMaxResponseBody) {
      // Closing the unfinished request drops its connection, so the rest of
      // the body never reaches the next request.
      HttpOutcome outcome = std::move(outcome_);
      outcome_ = HttpOutcome{};
      outcome.failure = TransportFailure::BodyTooLarge;
      outcome.words =
          "the response body is larger than " + std::to_string(kMaxResponseBody) + " bytes";
      return outcome;
    }
    outcome_.body.append(buffer, read);
  }
  HttpOutcome outcome = std::move(outcome_);
  outcome_ = HttpOutcome{};
  outcome.failure = TransportFailure::None;
  return outcome;
}

}  // namespace

std::unique_ptr<HttpTransport> makeHttpTransport(const TransportSettings& settings) {
  return std::make_unique<WinHttpTransport>(settings);
}

bool transportTakesProxy(const std::string& proxy, std::string& whyNot) {
  const std::string scheme = schemeOf(proxy);
  if (scheme == "http") return true;
  whyNot = "WinHTTP, the HTTP stack of this build, cannot use " + scheme +
           " proxies; give an http proxy";
  return false;
}

// WinHTTP keeps no process-wide state that needs holding, nor any per
// thread that a thread could release.
HttpStackHold::HttpStackHold() = default;
HttpStackHold::~HttpStackHold() = default;

void releaseThreadState() noexcept {}

}  // namespace vfpcsdk
