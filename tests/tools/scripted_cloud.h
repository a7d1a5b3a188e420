// What the reference SDK's cloud client meets, scripted: outcomes of
// attempts, a transport that hands them out in turn and records what it was
// asked, and a clock that moves only when the test moves it (the client's
// waits are recorded, not slept).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "reference/sdk/http_transport.h"
#include "reference/sdk/sdk_time.h"

namespace kesp::test {

// A response from the service.
inline vfpcsdk::HttpOutcome answer(long status, std::string body = "",
                                   std::string cacheControl = "") {
  vfpcsdk::HttpOutcome outcome;
  outcome.failure = vfpcsdk::TransportFailure::None;
  outcome.responseStarted = true;
  outcome.status = status;
  outcome.body = std::move(body);
  outcome.cacheControl = std::move(cacheControl);
  return outcome;
}

inline vfpcsdk::HttpOutcome verdict(bool falsePositive, std::string cacheControl = "") {
  return answer(200, falsePositive ? R"({"falsePositive": true})" : R"({"falsePositive": false})",
                std::move(cacheControl));
}

// A failure below HTTP, in the stack's words.
inline vfpcsdk::HttpOutcome failed(vfpcsdk::TransportFailure failure, bool responseStarted = false,
                                   std::string words = "the stack's words") {
  vfpcsdk::HttpOutcome outcome;
  outcome.failure = failure;
  outcome.words = std::move(words);
  outcome.responseStarted = responseStarted;
  return outcome;
}

// The outcomes to hand out, in turn, the last one again once they run out;
// every request and every transport's settings, in order.
struct CloudScript {
  std::vector<vfpcsdk::HttpOutcome> outcomes;
  std::size_t next = 0;
  std::vector<vfpcsdk::HttpRequest> requests;
  std::vector<vfpcsdk::TransportSettings> transports;

  void answerWith(std::vector<vfpcsdk::HttpOutcome> from) {
    outcomes = std::move(from);
    next = 0;
  }
};

class ScriptedTransport final : public vfpcsdk::HttpTransport {
 public:
  explicit ScriptedTransport(CloudScript& script) : script_(script) {}
  vfpcsdk::HttpOutcome post(const vfpcsdk::HttpRequest& request) override {
    script_.requests.push_back(request);
    return script_.outcomes.at(std::min(script_.next++, script_.outcomes.size() - 1));
  }

 private:
  CloudScript& script_;
};

class TestTime final : public vfpcsdk::SdkTime {
 public:
  Clock::time_point now() const noexcept override { return now_; }
  void sleep(std::chrono::milliseconds duration) override { sleeps.push_back(duration); }
  void advance(Clock::duration duration) { now_ += duration; }

  std::vector<std::chrono::milliseconds> sleeps;

 private:
  Clock::time_point now_{std::chrono::hours(1)};
};

}  // namespace kesp::test
