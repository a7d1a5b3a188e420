// A checker instance: runs checks through its own SDK instance, one job at a
// time.
#pragma once

#include <functional>
#include <memory>

#include "foundation/logger.h"
#include "kesp/checker.h"
#include "plugin/instance_monitor.h"

namespace kesp::plugins::fpchecker {

class VfpcSdkInstance;
class VfpcSdkLoader;

// Refuses every per-instance option.
class VFPCCheckerOptions final : public OptionsV1 {
 public:
  explicit VFPCCheckerOptions(const plx::Logger& logger) noexcept;
  Status setCustomOption(const GenericData* option) override;

 private:
  plx::LogChannel log_;
};

class VFPCCheckerInstance final : public InstanceV1 {
 public:
  // Creates the SDK instance through loader; throws what that creation
  // throws, without calling onRelease. onRelease runs once, at release.
  VFPCCheckerInstance(const plx::Logger& logger, VfpcSdkLoader& loader,
                      std::function<void()> onRelease);
  ~VFPCCheckerInstance();

  void release() override;
  OptionsV1* getOptions() override;
  Status setFops(FopsFactoryV1* factory) override;
  InputV1* createInput(std::uint32_t type) override;
  Status check(InputV1* input, OutputV1** output) override;

 private:
  plx::LogChannel log_;
  InstanceMonitor monitor_;
  std::unique_ptr<VfpcSdkInstance> sdkInstance_;
  VFPCCheckerOptions options_;
  std::function<void()> onRelease_;
};

}  // namespace kesp::plugins::fpchecker
