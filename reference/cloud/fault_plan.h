// Which requests get an injected fault, and which one.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>

namespace fpcloud {

struct FaultSettings {
  unsigned delayMs = 0;               // 0: no delay
  std::optional<int> status;          // answer with this status instead
  std::string location;               // with a 3xx status: the Location header
  bool drop = false;                  // close the connection without answering
  double share = 1.0;                 // of the requests that get the fault(s)
  std::optional<std::uint64_t> count; // only the first N requests
  bool mix = false;                   // each faulted request gets one of the faults
  std::uint64_t seed = 1;

  bool any() const { return delayMs > 0 || status.has_value() || drop; }
};

// What one request gets.
struct Fault {
  unsigned delayMs = 0;
  std::optional<int> status;
  bool drop = false;

  bool any() const { return delayMs > 0 || status.has_value() || drop; }
  // The word of the request's log line: the fault that decides the answer.
  const char* name() const;
};

// Decides request by request, in the order they reach the endpoint. The
// random choice is seeded, so that a run with the same order repeats.
class FaultPlan {
 public:
  explicit FaultPlan(FaultSettings settings);

  Fault next();

 private:
  FaultSettings settings_;
  std::mutex mutex_;
  std::mt19937_64 random_;
  std::uint64_t seen_ = 0;
};

}  // namespace fpcloud
