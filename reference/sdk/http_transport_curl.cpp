// The transport on libcurl (Linux): one easy handle in one multi handle per
// SDK instance, so the instance keeps its own connection alive between
// checks. The multi loop is driven here rather than by curl_easy_perform so
// that the data time-out is exact to the millisecond (curl's low-speed limit
// counts whole seconds).
#include <curl/curl.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "foundation/module_pin.h"
#include "foundation/scope_guard.h"
#include "foundation/unique_resource.h"
#include "reference/sdk/http_transport.h"

namespace vfpcsdk {

namespace {

using Clock = std::chrono::steady_clock;

// The count of live holds; curl_global_init/cleanup are not safe to call
// concurrently, so both happen under this mutex.
std::mutex stackMutex;
int stackHolds = 0;

long clampMs(std::uint64_t ms) {
  // curl adds time-outs to its clock: keep them far from overflow (24 days).
  return static_cast<long>(std::min<std::uint64_t>(ms, INT_MAX));
}

bool startsWithNoCase(const char* text, std::size_t size, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  if (size < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

std::string trimmed(const char* text, std::size_t size) {
  std::size_t begin = 0;
  std::size_t end = size;
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == '\r' || text[end - 1] == '\n' || text[end - 1] == ' ' ||
                         text[end - 1] == '\t')) {
    --end;
  }
  return std::string(text + begin, end - begin);
}

// libcurl's handles, each owned from the moment libcurl returns it.
struct CurlMultiTraits {
  using Handle = CURLM*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle multi) noexcept { curl_multi_cleanup(multi); }
};
struct CurlEasyTraits {
  using Handle = CURL*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle easy) noexcept { curl_easy_cleanup(easy); }
};
struct CurlListTraits {
  using Handle = curl_slist*;
  static Handle invalid() noexcept { return nullptr; }
  static void close(Handle list) noexcept { curl_slist_free_all(list); }
};

// A failure of the multi interface: memory exhaustion is one, anything else
// is libcurl's own and keeps its words.
[[nodiscard]] std::string multiFailure(const char* call, CURLMcode code) {
  if (code == CURLM_OUT_OF_MEMORY) throw std::bad_alloc();
  return std::string(call) + " failed: " + curl_multi_strerror(code);
}

class CurlTransport final : public HttpTransport {
 public:
  explicit CurlTransport(const TransportSettings& settings)
      : settings_(settings), multi_(curl_multi_init()), easy_(curl_easy_init()) {
    // libcurl says no more than null: memory, or for the multi handle the
    // descriptors of its wake-up pipe, may have run out.
    if (!multi_) throw std::runtime_error("libcurl cannot make a multi handle");
    if (!easy_) throw std::runtime_error("libcurl cannot make an easy handle");
    // The one connection of this instance, kept alive between checks.
    curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, 1L);
    configure();
  }
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  HttpOutcome post(const HttpRequest& request) override;

 private:
  void configure();
  HttpOutcome finish(CURLcode code, bool dataTimedOut);
  HttpOutcome outcome(TransportFailure failure, std::string words);

  static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* self);
  static int onRequestReady(void* self, char*, char*, int, int);

  TransportSettings settings_;
  // The header list the easy handle points to (so it outlives the handle),
  // and the headers it was made of.
  plx::UniqueResource<CurlListTraits> headerList_;
  std::vector<std::pair<std::string, std::string>> lastHeaders_;
  // The easy handle goes first; the multi handle keeps the connection.
  plx::UniqueResource<CurlMultiTraits> multi_;
  plx::UniqueResource<CurlEasyTraits> easy_;
  char errorWords_[CURL_ERROR_SIZE] = {};
  // The current request's state, written by the callbacks.
  bool requestSent_ = false;
  bool resendRefused_ = false;
  bool bodyTooLarge_ = false;
  bool outOfMemory_ = false;  // a callback could not keep what it was given
  Clock::time_point lastData_{};
  HttpOutcome outcome_;
};

void CurlTransport::configure() {
  const auto set = [&](CURLoption option, auto value) {
    const CURLcode code = curl_easy_setopt(easy_.get(), option, value);
    if (code == CURLE_OK) return;
    // Texts are copied: a copy that fails is memory exhaustion.
    if (code == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();
    throw std::runtime_error("libcurl refused connection setting " + std::to_string(option) +
                             ": " + curl_easy_strerror(code));
  };
  set(CURLOPT_URL, settings_.url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_NOSIGNAL, 1L);
  // Redirects are never followed: the API key would travel with them.
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_CONNECTTIMEOUT_MS, clampMs(settings_.connectTimeoutMs));
  // A name lookup runs on a thread of curl's own, and by default curl waits
  // for it to end even after the connect time-out: a resolver that does not
  // answer would hold the host's thread for as long as the system's lookup
  // takes. With this, curl leaves the thread to finish and clean up by
  // itself (see HttpStackHold below).
  set(CURLOPT_QUICK_EXIT, 1L);
  set(CURLOPT_ERRORBUFFER, errorWords_);
  // Peer and host name are always verified; these are libcurl's defaults,
  // stated so that no reader wonders.
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // Only the configured proxy: an empty one means none, never one named by
  // the environment (http_proxy, no_proxy).
  set(CURLOPT_PROXY, settings_.proxy.c_str());
  set(CURLOPT_NOPROXY, "");
  if (!settings_.certificatePath.empty()) {
    // The path alone is trusted: the other kind of default store is cleared.
    const char* path = settings_.certificatePath.c_str();
    const char* file = settings_.certificateDirectory ? nullptr : path;
    const char* directory = settings_.certificateDirectory ? path : nullptr;
    set(CURLOPT_CAINFO, file);
    set(CURLOPT_CAPATH, directory);
    set(CURLOPT_PROXY_CAINFO, file);
    set(CURLOPT_PROXY_CAPATH, directory);
  }
  set(CURLOPT_HEADERFUNCTION, &CurlTransport::onHeader);
  set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  set(CURLOPT_WRITEFUNCTION, &CurlTransport::onBody);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  set(CURLOPT_PREREQFUNCTION, &CurlTransport::onRequestReady);
  set(CURLOPT_PREREQDATA, static_cast<void*>(this));
}

// Called once the connection (through any proxy, TLS included) stands and
// the request is about to go: from here on every wait is for data.
int CurlTransport::onRequestReady(void* self, char*, char*, int, int) {
  auto* transport = static_cast<CurlTransport*>(self);
  // When a kept-alive connection dies before any byte of the answer, curl
  // sends the request once more on a new connection within the same
  // transfer. That second request would be an attempt nobody counted: it is
  // refused here, and the attempt fails as a connection closed before the
  // answer, which the retry rule above the transport may repeat.
  if (transport->requestSent_) {
    transport->resendRefused_ = true;
    return CURL_PREREQFUNC_ABORT;
  }
  transport->requestSent_ = true;
  transport->lastData_ = Clock::now();
  return CURL_PREREQFUNC_OK;
}

std::size_t CurlTransport::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto* transport = static_cast<CurlTransport*>(self);
  const std::size_t length = size * count;
  // A proxy's answer to CONNECT comes before the request: not the response.
  if (!transport->requestSent_) return length;
  transport->outcome_.responseStarted = true;
  transport->lastData_ = Clock::now();
  try {
    if (startsWithNoCase(data, length, "http/")) {
      transport->outcome_.cacheControl.clear();  // a new response (after a 1xx)
    } else if (startsWithNoCase(data, length, "cache-control:")) {
      constexpr std::size_t kName = sizeof("cache-control:") - 1;
      transport->outcome_.cacheControl = trimmed(data + kName, length - kName);
    }
  } catch (const std::bad_alloc&) {
    transport->outOfMemory_ = true;
    return 0;
  }
  return length;
}

std::size_t CurlTransport::onBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto* transport = static_cast<CurlTransport*>(self);
  const std::size_t length = size * count;
  transport->outcome_.responseStarted = true;
  transport->lastData_ = Clock::now();
  std::string& body = transport->outcome_.body;
  if (body.size() + length > kMaxResponseBody) {
    transport->bodyTooLarge_ = true;
    return 0;  // ends the transfer
  }
  try {
    body.append(data, length);
  } catch (const std::bad_alloc&) {
    transport->outOfMemory_ = true;
    return 0;
  }
  return length;
}

HttpOutcome CurlTransport::post(const HttpRequest& request) {
  outcome_ = HttpOutcome{};
  requestSent_ = false;
  resendRefused_ = false;
  bodyTooLarge_ = false;
  outOfMemory_ = false;
  errorWords_[0] = '\0';

  // The headers come from the SDK object's settings, so they rarely differ
  // from the last request's: the list is built again only when they do.
  if (!headerList_ || request.headers != lastHeaders_) {
    plx::UniqueResource<CurlListTraits> list;
    const auto add = [&](const std::string& line) {
      // Fails only when the copy of the line cannot be allocated.
      curl_slist* longer = curl_slist_append(list.get(), line.c_str());
      if (longer == nullptr) throw std::bad_alloc();
      static_cast<void>(list.release());
      list.reset(longer);
    };
    for (const auto& [name, value] : request.headers) add(name + ": " + value);
    // curl would otherwise ask "Expect: 100-continue" for a larger body and
    // wait for an answer to it.
    add("Expect:");
    lastHeaders_ = request.headers;
    curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, list.get());
    headerList_ = std::move(list);
  }
  curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDS, request.body.c_str());
  curl_easy_setopt(easy_.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                   static_cast<curl_off_t>(request.body.size()));

  if (const CURLMcode added = curl_multi_add_handle(multi_.get(), easy_.get()); added != CURLM_OK) {
    return outcome(TransportFailure::Other, multiFailure("curl_multi_add_handle", added));
  }
  // Removing an unfinished transfer closes its connection, so a timed-out
  // request never leaves half an answer for the next one.
  const plx::ScopeGuard detach([this] { curl_multi_remove_handle(multi_.get(), easy_.get()); });

  bool dataTimedOut = false;
  CURLcode result = CURLE_OK;
  for (;;) {
    int running = 0;
    if (const CURLMcode code = curl_multi_perform(multi_.get(), &running); code != CURLM_OK) {
      return outcome(TransportFailure::Other, multiFailure("curl_multi_perform", code));
    }
    int queued = 0;
    if (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued);
        message != nullptr && message->msg == CURLMSG_DONE) {
      result = message->data.result;
      break;
    }
    long waitMs = 1000;
    if (requestSent_) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastData_);
      const auto idleMs = static_cast<std::uint64_t>(std::max<std::int64_t>(idle.count(), 0));
      if (idleMs >= settings_.dataTimeoutMs) {
        dataTimedOut = true;
        break;
      }
      waitMs = static_cast<long>(std::min<std::uint64_t>(settings_.dataTimeoutMs - idleMs, 1000));
    }
    // curl shortens the wait to its own next deadline (the connect time-out).
    const CURLMcode polled =
        curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(waitMs), nullptr);
    if (polled != CURLM_OK) {
      return outcome(TransportFailure::Other, multiFailure("curl_multi_poll", polled));
    }
  }
  return finish(result, dataTimedOut);
}

HttpOutcome CurlTransport::outcome(TransportFailure failure, std::string words) {
  HttpOutcome result = std::move(outcome_);
  outcome_ = HttpOutcome{};
  result.failure = failure;
  result.words = std::move(words);
  return result;
}

HttpOutcome CurlTransport::finish(CURLcode code, bool dataTimedOut) {
  if (dataTimedOut) {
    return outcome(TransportFailure::DataTimeout,
                  "no response data within " + std::to_string(settings_.dataTimeoutMs) + " ms");
  }
  if (code == CURLE_OUT_OF_MEMORY || outOfMemory_) throw std::bad_alloc();
  if (resendRefused_) {
    return outcome(TransportFailure::ConnectionLost,
                  "the connection closed before any byte of the answer");
  }
  std::string words = errorWords_[0] != '\0' ? errorWords_ : curl_easy_strerror(code);
  long connectStatus = 0;
  curl_easy_getinfo(easy_.get(), CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  if (code != CURLE_OK && connectStatus >= 300) {
    return outcome(TransportFailure::Proxy, words);
  }
  curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &outcome_.status);
  if (!settings_.proxy.empty()) {
    // 407 only ever comes from a proxy (to a request in absolute form). A
    // proxy that refuses with 401 or 403 (tinyproxy does) and drops the
    // connection right after is told apart from the service by the drop; a
    // clean 401 or 403 in absolute form cannot be, and counts as the
    // service's.
    const long status = outcome_.status;
    const bool refusal = status == 401 || status == 403;
    if (status == 407 || (refusal && code != CURLE_OK)) {
      return outcome(TransportFailure::Proxy,
                    "the proxy answered " + std::to_string(status) +
                        (status == 407 ? " (authentication required)" : " (refused)"));
    }
  }
  switch (code) {
    case CURLE_OK:
      return outcome(TransportFailure::None, "");
    case CURLE_COULDNT_RESOLVE_HOST:
      return outcome(TransportFailure::NameNotResolved, words);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_PROXY:
      return outcome(TransportFailure::Proxy, words);
    case CURLE_COULDNT_CONNECT:
      return outcome(TransportFailure::ConnectRefused, words);
    case CURLE_OPERATION_TIMEDOUT:
      return outcome(TransportFailure::ConnectTimeout, words);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return outcome(TransportFailure::ConnectionLost, words);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
      return outcome(TransportFailure::Certificate, words);
    case CURLE_WRITE_ERROR:
      if (bodyTooLarge_) {
        return outcome(TransportFailure::BodyTooLarge,
                      "the response body is larger than " + std::to_string(kMaxResponseBody) +
                          " bytes");
      }
      return outcome(TransportFailure::Other, words);
    default:
      return outcome(TransportFailure::Other, words);
  }
}

}  // namespace

std::unique_ptr<HttpTransport> makeHttpTransport(const TransportSettings& settings) {
  return std::make_unique<CurlTransport>(settings);
}

bool transportTakesProxy(const std::string&, std::string&) { return true; }

HttpStackHold::HttpStackHold() {
  std::lock_guard lock(stackMutex);
  if (stackHolds == 0) {
    if (const CURLcode code = curl_global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
      if (code == CURLE_OUT_OF_MEMORY) throw std::bad_alloc();
      throw std::runtime_error(std::string("libcurl cannot initialize: ") +
                               curl_easy_strerror(code));
    }
    // A lookup thread that curl left behind (CURLOPT_QUICK_EXIT) may still
    // run libcurl's code after the SDK and the libraries it brought are
    // unloaded: so libcurl, once loaded, stays mapped for the life of the
    // process.
    plx::pinModuleAt(reinterpret_cast<const void*>(&curl_easy_init));
  }
  ++stackHolds;
}

HttpStackHold::~HttpStackHold() {
  std::lock_guard lock(stackMutex);
  if (--stackHolds == 0) curl_global_cleanup();
}

void releaseThreadState() noexcept {
  // OpenSSL keeps error queues and caches per thread; libcurl keeps none of
  // its own outside the handles.
  OPENSSL_thread_stop();
}

}  // namespace vfpcsdk
