// The reference cloud service: the check protocol over HTTP or HTTPS, from a
// rules file, with API keys, a quota, a body limit and injected faults.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "reference/cloud/fault_plan.h"
#include "reference/cloud/line_output.h"
#include "reference/rules/rules.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace fpcloud {

struct ServiceSettings {
  std::string listen = "127.0.0.1";
  int port = 0;
  std::string path = "/v1/check";
  std::string tlsCert;  // both empty: plain HTTP
  std::string tlsKey;
  std::vector<std::string> apiKeys;
  std::optional<std::uint64_t> quota;
  std::size_t maxBody = 65536;
  unsigned maxAge = 0;
  unsigned readTimeoutMs = 5000;
  FaultSettings faults;
};

struct ServiceCounts {
  std::uint64_t requests = 0;
  std::uint64_t connections = 0;
  std::uint64_t handshakes = 0;
};

class CloudServer {
 public:
  // Throws std::runtime_error naming the cause when the TLS files do not load.
  CloudServer(ServiceSettings settings, vfpcsdk::RuleSet rules, LineOutput& out);
  ~CloudServer();

  // Binds the listening socket and returns the URL served; throws
  // std::runtime_error when the address cannot be bound.
  std::string bind();
  // Serves until stop(); false when the server failed on its own.
  bool run();
  // From any thread, any number of times: stops accepting, cuts short the
  // injected delays and ends idle connections. run() returns once every
  // connection has finished.
  void stop();

  ServiceCounts counts() const;
  // Counts a completed TLS handshake (called by the TLS stack).
  void handshakeDone();

 private:
  void routeEverything();
  void handleEndpoint(const httplib::Request& request, httplib::Response& response);
  void logRequest(const httplib::Request& request, const httplib::Response& response);
  bool authorized(const httplib::Request& request) const;
  void waitOrStop(unsigned milliseconds);

  ServiceSettings settings_;
  vfpcsdk::RuleSet rules_;
  LineOutput& out_;
  FaultPlan faults_;
  std::unique_ptr<httplib::Server> server_;
  int boundPort_ = -1;

  std::atomic<std::uint64_t> requests_{0};
  std::atomic<std::uint64_t> connections_{0};
  std::atomic<std::uint64_t> handshakes_{0};
  std::atomic<std::uint64_t> accepted_{0};

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;
};

}  // namespace fpcloud
