#include "reference/cloud/cloud_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <stdexcept>

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <openssl/ssl.h>

#include "reference/cloud/check_body.h"
#include "reference/cloud/connection_queue.h"
#include "reference/cloud/socket_control.h"

namespace fpcloud {
namespace {

using Clock = std::chrono::steady_clock;

// What the log line of the request on this thread will say. The HTTP library
// keeps a connection on one thread and reads its requests one after another,
// so a thread holds at most one request at a time.
struct RequestState {
  std::uint64_t number = 0;
  Clock::time_point started;
  const char* fault = nullptr;
  bool dropped = false;
};
thread_local RequestState current;

bool expectsBody(const std::string& method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

void answer(httplib::Response& response, int status, const std::string& error) {
  response.status = status;
  response.set_content(nlohmann::json{{"error", error}}.dump(), "application/json");
}

std::string errorText(int status, std::size_t maxBody) {
  switch (status) {
    case 400: return "bad request";
    case 404: return "no such endpoint";
    case 413: return "the body is larger than " + std::to_string(maxBody) + " bytes";
    case 414: return "the request line is too long";
    default: return "HTTP status " + std::to_string(status);
  }
}

// The path a request names. A server must take a target in absolute form
// ("https://host:port/v1/check") as well (RFC 9112, 3.2.2), and Wine's
// WinHTTP sends that form even through a proxy's CONNECT tunnel.
std::string pathOf(const httplib::Request& request) {
  const auto scheme = request.path.find("://");
  if (scheme == std::string::npos || request.path.find('/') < scheme) return request.path;
  const auto path = request.path.find('/', scheme + 3);
  return path == std::string::npos ? "/" : request.path.substr(path);
}

// A path in a log line: percent-decoded by the library, so it could hold a
// line end; anything unprintable is shown as '?'.
std::string printable(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) == 0x7f) c = '?';
  }
  return shown;
}

void countHandshake(const SSL* ssl, int where, int /*ret*/) {
  if ((where & SSL_CB_HANDSHAKE_DONE) == 0) return;
  // TLS 1.3 can report a finished handshake again after the session tickets;
  // the mark on the connection keeps the count at one per handshake.
  static const int mark = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  auto* connection = const_cast<SSL*>(ssl);
  if (SSL_get_ex_data(connection, mark) != nullptr) return;
  static char done;
  SSL_set_ex_data(connection, mark, &done);
  if (auto* server = static_cast<CloudServer*>(SSL_CTX_get_app_data(SSL_get_SSL_CTX(ssl))))
    server->handshakeDone();
}

std::unique_ptr<httplib::Server> makeServer(const ServiceSettings& settings, CloudServer* owner,
                                            std::string& failure) {
  if (settings.tlsCert.empty()) return std::make_unique<httplib::Server>();
  auto server = std::make_unique<httplib::SSLServer>([&](SSL_CTX& context) {
    // The certificate file may hold the server's chain after its own
    // certificate.
    if (SSL_CTX_use_certificate_chain_file(&context, settings.tlsCert.c_str()) != 1) {
      failure = "cannot load the certificate chain '" + settings.tlsCert + "'";
      return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&context, settings.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(&context) != 1) {
      failure = "cannot load the private key '" + settings.tlsKey + "' of the certificate";
      return false;
    }
    SSL_CTX_set_app_data(&context, owner);
    SSL_CTX_set_info_callback(&context, &countHandshake);
    return true;
  });
  if (!server->is_valid()) return nullptr;
  return server;
}

}  // namespace

CloudServer::CloudServer(ServiceSettings settings, vfpcsdk::RuleSet rules, LineOutput& out)
    : settings_(std::move(settings)), rules_(std::move(rules)), out_(out), faults_(settings_.faults) {
  std::string failure;
  server_ = makeServer(settings_, this, failure);
  if (!server_) throw std::runtime_error(failure.empty() ? "cannot set up TLS" : failure);

  server_->new_task_queue = [this]() -> httplib::TaskQueue* {
    // The library takes ownership of the queue it asks for.
    return new ConnectionQueue([this] {
      out_.line("connection " + std::to_string(++connections_));
    });
  };
  // Only SO_REUSEADDR: a restarted service gets its port back while the old
  // connections linger, and no second process can bind it meanwhile (which
  // the library's default, SO_REUSEPORT, would allow).
  server_->set_socket_options([](socket_t socket) {
    int on = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Accepted connections inherit it: the library writes an answer's
    // headers and body apart, which Nagle's algorithm would hold back.
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  });
  server_->set_tcp_nodelay(true);
  // One connection per SDK instance for as long as the instance lives.
  server_->set_keep_alive_max_count(1'000'000'000);
  server_->set_keep_alive_timeout(60);
  server_->set_read_timeout(settings_.readTimeoutMs / 1000, (settings_.readTimeoutMs % 1000) * 1000);
  server_->set_payload_max_length(settings_.maxBody);
  routeEverything();
}

CloudServer::~CloudServer() = default;

void CloudServer::routeEverything() {
  // Every request passes here first, with its headers read and its body not
  // yet: it gets its number and its clock. Methods that carry no body are
  // answered here; the others go on so that the library reads (or, above the
  // limit, skips) the body and the connection stays usable.
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    current = {++requests_, Clock::now(), nullptr, false};
    if (expectsBody(request.method)) return httplib::Server::HandlerResponse::Unhandled;
    // The library reads no body for these methods: were one sent, its bytes
    // would be taken for the next request, so the connection ends after the
    // answer.
    const bool bodySent = request.has_header("Transfer-Encoding") ||
                          (request.has_header("Content-Length") &&
                           request.get_header_value("Content-Length") != "0");
    if (bodySent && !request.remote_addr.empty())
      endAfterAnswer(request.remote_addr, request.remote_port, boundPort_);
    if (pathOf(request) != settings_.path) {
      answer(response, 404, errorText(404, settings_.maxBody));
    } else {
      response.set_header("Allow", "POST");
      answer(response, 405, "the method must be POST");
    }
    return httplib::Server::HandlerResponse::Handled;
  });
  const auto endpoint = [this](const httplib::Request& request, httplib::Response& response) {
    handleEndpoint(request, response);
  };
  server_->Post(".*", endpoint);
  server_->Put(".*", endpoint);
  server_->Patch(".*", endpoint);
  server_->Delete(".*", endpoint);
  // The library's own refusals (a bad request line, a body above the limit)
  // get the same JSON error body as the service's.
  server_->set_error_handler(httplib::Server::HandlerWithResponse(
      [this](const httplib::Request& request, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        // The library's 400 means it could not read the request (a client
        // too slow to send its body, say): what follows on the connection
        // cannot be trusted to start a request, so it ends after the answer.
        if (response.status == 400 && !request.remote_addr.empty())
          endAfterAnswer(request.remote_addr, request.remote_port, boundPort_);
        answer(response, response.status, errorText(response.status, settings_.maxBody));
        return httplib::Server::HandlerResponse::Handled;
      }));
  server_->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    logRequest(request, response);
  });
}

void CloudServer::handleEndpoint(const httplib::Request& request, httplib::Response& response) {
  if (pathOf(request) != settings_.path) return answer(response, 404, errorText(404, settings_.maxBody));
  if (request.method != "POST") {
    response.set_header("Allow", "POST");
    return answer(response, 405, "the method must be POST");
  }

  const Fault fault = faults_.next();
  if (fault.any()) current.fault = fault.name();
  if (fault.delayMs > 0) waitOrStop(fault.delayMs);
  if (fault.drop) {
    current.dropped = dropConnection(request.remote_addr, request.remote_port, boundPort_);
    // Nothing more reaches the client; the library's write fails.
    return answer(response, 500, "dropped");
  }
  if (fault.status) {
    answer(response, *fault.status, "injected fault");
    if (*fault.status >= 300 && *fault.status < 400 && !settings_.faults.location.empty())
      response.set_header("Location", settings_.faults.location);
    return;
  }

  if (!authorized(request)) return answer(response, 401, "missing or invalid API key");
  if (settings_.quota && ++accepted_ > *settings_.quota)
    return answer(response, 429, "quota of " + std::to_string(*settings_.quota) + " requests reached");

  const ParsedBody parsed = parseCheckBody(request.body);
  if (const auto* reason = std::get_if<std::string>(&parsed)) return answer(response, 400, *reason);
  const auto& query = std::get<CheckQuery>(parsed);
  const vfpcsdk::Rule* rule = rules_.find(query.detection, query.sha256);
  response.status = 200;
  response.set_header("Cache-Control", settings_.maxAge > 0
                                           ? "max-age=" + std::to_string(settings_.maxAge)
                                           : std::string("no-store"));
  response.set_content(nlohmann::json{{"falsePositive", rule != nullptr && rule->falsePositive}}.dump(),
                       "application/json");
}

bool CloudServer::authorized(const httplib::Request& request) const {
  if (settings_.apiKeys.empty()) return true;
  if (!request.has_header("X-Api-Key")) return false;
  const std::string key = request.get_header_value("X-Api-Key");
  for (const auto& valid : settings_.apiKeys) {
    if (key == valid) return true;
  }
  return false;
}

void CloudServer::logRequest(const httplib::Request& request, const httplib::Response& response) {
  // A request the library refused before routing (a bad request line) has
  // not been numbered yet.
  if (current.number == 0) current = {++requests_, Clock::now(), nullptr, false};
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - current.started);
  std::string line = "request " + std::to_string(current.number) + " " + printable(request.method) +
                     " " + printable(request.path) + " " +
                     (current.dropped ? std::string("-") : std::to_string(response.status)) + " " +
                     std::to_string(ms.count()) + "ms";
  if (current.fault != nullptr) line += std::string(" fault=") + current.fault;
  current = {};
  out_.line(line);
}

void CloudServer::waitOrStop(unsigned milliseconds) {
  std::unique_lock lock(stopMutex_);
  stopSignal_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return stopping_; });
}

std::string CloudServer::bind() {
  // "localhost" binds the loopback address itself: the name may resolve to
  // ::1 first, and certificates made for tests name both.
  const std::string address = settings_.listen == "localhost" ? "127.0.0.1" : settings_.listen;
  if (settings_.port == 0) {
    boundPort_ = server_->bind_to_any_port(address);
  } else if (server_->bind_to_port(address, settings_.port)) {
    boundPort_ = settings_.port;
  }
  if (boundPort_ <= 0)
    throw std::runtime_error("cannot listen on " + settings_.listen + " port " +
                             std::to_string(settings_.port));
  const bool ipv6 = settings_.listen.find(':') != std::string::npos;
  const std::string host = ipv6 ? "[" + settings_.listen + "]" : settings_.listen;
  return (settings_.tlsCert.empty() ? "http://" : "https://") + host + ":" +
         std::to_string(boundPort_) + settings_.path;
}

bool CloudServer::run() { return server_->listen_after_bind(); }

void CloudServer::stop() {
  {
    std::lock_guard lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  server_->stop();
  if (boundPort_ > 0) stopReading(boundPort_);
}

ServiceCounts CloudServer::counts() const {
  return {requests_.load(), connections_.load(), handshakes_.load()};
}

void CloudServer::handshakeDone() { out_.line("handshake " + std::to_string(++handshakes_)); }

}  // namespace fpcloud
