// The seam between the reference SDK's cloud protocol and a platform's HTTP
// stack. A transport sends one POST and reports only what happened: the
// response (status, the headers the protocol reads, body), or the kind of
// failure with the stack's own words. Every decision (codes, retries, the
// breaker, the cache, log lines) is taken above it, once for every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vfpcsdk {

// Where and how a transport reaches the service. Fixed for the transport's
// life: a changed proxy or certificate path makes a new transport.
struct TransportSettings {
  std::string url;
  std::string proxy;            // empty: none (never one from the environment)
  std::string certificatePath;  // empty: the system's store
  bool certificateDirectory = false;
  std::uint64_t connectTimeoutMs = 0;  // the connect and the TLS handshake
  std::uint64_t dataTimeoutMs = 0;     // each wait for response data
};

struct HttpRequest {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// What went wrong below HTTP, as the transport saw it.
enum class TransportFailure {
  None,             // a response arrived: see HttpOutcome::status
  NameNotResolved,  // the service's host name
  ConnectRefused,   // nothing accepted the connection (the service's or the proxy's)
  ConnectTimeout,   // connect or TLS handshake beyond the connect time-out
  DataTimeout,      // no response data within the data time-out
  ConnectionLost,   // reset or closed by the peer
  Certificate,      // TLS handshake or certificate verification failed
  Proxy,            // the proxy refused or failed (its name, its answer, its protocol)
  BodyTooLarge,     // the response body passed kMaxResponseBody
  Other,
};

// The largest response body the SDK reads; a larger one is a cloud error.
inline constexpr std::size_t kMaxResponseBody = 64 * 1024;

struct HttpOutcome {
  TransportFailure failure = TransportFailure::Other;
  std::string words;           // the stack's own description of a failure
  bool responseStarted = false;  // any byte of the response arrived
  long status = 0;
  std::string cacheControl;  // the Cache-Control header, empty when absent
  std::string body;
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // One request on the transport's kept-alive connection. Never throws for a
  // network failure (std::bad_alloc only).
  virtual HttpOutcome post(const HttpRequest& request) = 0;
};

// The platform's transport. Throws std::bad_alloc, or std::runtime_error
// with the HTTP stack's reason when it cannot make the connection object.
std::unique_ptr<HttpTransport> makeHttpTransport(const TransportSettings& settings);

// Whether this build's HTTP stack can use a proxy of this (well-formed)
// form; when not, why, for the line that refuses it at setProxy.
bool transportTakesProxy(const std::string& proxy, std::string& whyNot);

// The HTTP stack's process-wide state, held while any SDK object exists. The
// holds are counted, so loading and unloading the library over and over
// initializes and releases the stack as often.
class HttpStackHold {
 public:
  HttpStackHold();
  ~HttpStackHold();
  HttpStackHold(const HttpStackHold&) = delete;
  HttpStackHold& operator=(const HttpStackHold&) = delete;
};

// Frees what the HTTP and TLS stacks keep for the calling thread.
void releaseThreadState() noexcept;

}  // namespace vfpcsdk
