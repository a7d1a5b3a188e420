#include "reference/sdk/sdk_time.h"

#include <thread>

namespace vfpcsdk {

namespace {

class SystemTime final : public SdkTime {
 public:
  Clock::time_point now() const noexcept override { return Clock::now(); }
  void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

// Stateless and constant-initialized: usable from any thread at any time.
SystemTime theSystemTime;

}  // namespace

SdkTime& systemTime() noexcept { return theSystemTime; }

}  // namespace vfpcsdk
