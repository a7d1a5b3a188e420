// Checks through the cloud service: the state an SDK object shares with its
// instances (settings, route, breaker, verdict cache), and each instance's
// client with its own transport.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "reference/sdk/breaker.h"
#include "reference/sdk/cloud_protocol.h"
#include "reference/sdk/http_transport.h"
#include "reference/sdk/sdk_log.h"
#include "reference/sdk/sdk_time.h"
#include "reference/sdk/verdict_cache.h"
#include "fpcsdk/fpcsdk.h"

namespace vfpcsdk {

// The proxy and certificate path of setProxy.
struct Route {
  std::string proxy;
  std::string certificatePath;
  bool certificateDirectory = false;
};

// What the cloud client reaches the world through: the platform's HTTP stack
// (makeHttpTransport) and the system's time in the SDK, a test's own
// elsewhere.
struct CloudSeams {
  std::function<std::unique_ptr<HttpTransport>(const TransportSettings&)> makeTransport;
  SdkTime* time = nullptr;  // outlives the service
};

class CloudService {
 public:
  CloudService(CloudConfig config, SdkLog log, CloudSeams seams)
      : config_(std::move(config)),
        log_(log),
        seams_(std::move(seams)),
        breaker_(log, "at " + config_.url, *seams_.time),
        cache_(*seams_.time) {}

  // Takes effect at the next request of every instance, never in the middle
  // of one, and closes the breaker.
  void setRoute(Route route);

  const CloudConfig& config() const noexcept { return config_; }
  const SdkLog& log() const noexcept { return log_; }
  SdkTime& time() const noexcept { return *seams_.time; }
  std::unique_ptr<HttpTransport> makeTransport(const TransportSettings& settings) const {
    return seams_.makeTransport(settings);
  }
  Breaker& breaker() noexcept { return breaker_; }
  VerdictCache& cache() noexcept { return cache_; }

  // Bumped by every setRoute; an instance compares it before each request,
  // so the check path takes the lock only after a change.
  std::uint64_t routeGeneration() const noexcept {
    return generation_.load(std::memory_order_acquire);
  }
  Route route(std::uint64_t& generation) const;

 private:
  const CloudConfig config_;
  SdkLog log_;
  const CloudSeams seams_;
  Breaker breaker_;
  VerdictCache cache_;
  mutable std::mutex routeMutex_;
  Route route_;
  std::atomic<std::uint64_t> generation_{0};
};

class CloudClient {
 public:
  explicit CloudClient(std::shared_ptr<CloudService> service);

  // A validated check: Ok with the verdict, or the failure's code after one
  // error line.
  std::int32_t check(const fpcsdk::DetectionInput& input, bool& falsePositive);

 private:
  // A new transport when the route changed since the last request.
  void follow();

  std::shared_ptr<CloudService> service_;
  // The request of the current check: the headers made once, the body
  // written over for each check.
  HttpRequest request_;
  std::uint64_t generation_ = UINT64_MAX;
  std::unique_ptr<HttpTransport> transport_;
  std::string proxyPassword_;
  std::minstd_rand random_;
};

}  // namespace vfpcsdk
