// The time the cloud client, its breaker and the verdict cache go by: the
// system's steady clock and real sleeps in the SDK, a clock of its own in a
// test, which moves only when the test (or a sleep) moves it.
#pragma once

#include <chrono>

namespace vfpcsdk {

class SdkTime {
 public:
  using Clock = std::chrono::steady_clock;

  virtual Clock::time_point now() const noexcept = 0;
  // Waits for duration (the back-off between attempts).
  virtual void sleep(std::chrono::milliseconds duration) = 0;

 protected:
  ~SdkTime() = default;
};

// The system's time, for the life of the process.
SdkTime& systemTime() noexcept;

}  // namespace vfpcsdk
