// The breaker of one SDK object, shared by its instances: when the service
// is down, checks fail at once instead of each waiting out every attempt.
//
// Closed: attempts go out; a run of kOpenAfter retried transport failures in
// a row (refused, reset, time-out) opens it. Any HTTP response or TLS
// failure ends the run. Open: every attempt is refused for a cool-off that
// starts at 1 s and doubles, up to 60 s, each time a probe fails. Then one
// attempt at a time probes; any HTTP response closes the breaker. A proxy
// change closes it at once. One warning when it opens, one information line
// when it closes, nothing per refused attempt.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

#include "reference/sdk/cloud_protocol.h"
#include "reference/sdk/sdk_log.h"
#include "reference/sdk/sdk_time.h"

namespace vfpcsdk {

class Breaker {
 public:
  static constexpr int kOpenAfter = 5;
  static constexpr std::chrono::milliseconds kFirstCoolOff{1000};
  static constexpr std::chrono::milliseconds kLongestCoolOff{60000};

  enum class Admission { Go, Probe, Refused };

  // time outlives the breaker.
  Breaker(SdkLog log, std::string service, const SdkTime& time)
      : log_(log), service_(std::move(service)), time_(time) {}

  // Whether an attempt may go out now. While the breaker is closed this
  // takes no lock.
  Admission admit();
  // What the attempt admitted with admission came to; cause is the attempt's
  // (secrets already masked), for the warning when the breaker opens.
  void record(BreakerSignal signal, Admission admission, const std::string& cause);
  // Closes the breaker (a proxy change: the old route's failures say nothing
  // of the new one).
  void close(const char* why);

 private:
  enum class State { Closed, Open, Probing };
  using Clock = SdkTime::Clock;

  void closeLocked(const char* why);

  SdkLog log_;
  std::string service_;
  const SdkTime& time_;
  // Read without the lock on the common path: whether the breaker is
  // anything but closed, and the length of the current run of failures.
  std::atomic<bool> notClosed_{false};
  std::atomic<int> failures_{0};
  std::mutex mutex_;
  State state_ = State::Closed;
  Clock::time_point openUntil_{};
  std::chrono::milliseconds coolOff_ = kFirstCoolOff;
};

}  // namespace vfpcsdk
