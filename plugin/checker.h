// The FP checker: configuration, load and unload of the checker SDK,
// commands, and the count of live instances.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "foundation/logger.h"
#include "kesp/checker.h"
#include "plugin/checker_config.h"
#include "sdk_bridge/sdk_loader.h"

namespace kesp::plugins::fpchecker {

class VFPCChecker final : public CheckerV1 {
 public:
  // logger is the plug-in object's, which outlives the checker.
  VFPCChecker(const plx::Logger& logger, const std::string& hostDataString);

  void release() override;
  GlobalConfigV1* getConfig() override;
  Status load() override;
  const CheckerInfo* getInfo() override;
  Status sendCommand(const CheckerCommand* command) override;
  Status createInstance(InstanceV1** instance) override;
  Status unload() override;

  std::uint64_t instanceCount() const noexcept { return instanceCount_.load(); }

 private:
  Status loadChecked();
  Status createInstanceChecked(InstanceV1** instance);

  const plx::Logger* logger_;
  plx::LogChannel log_;
  std::string hostDataString_;
  std::unique_ptr<VfpcSdkLoader> sdkLoader_;
  SdkLoadParameters loadParameters_;
  // Declared after the loader it refers to.
  VFPCCheckerConfig config_;
  CheckerInfo info_;
  bool loaded_ = false;
  // Raised by createInstance, lowered by each instance's release on any
  // thread; read by unload.
  std::atomic<std::uint64_t> instanceCount_{0};
};

}  // namespace kesp::plugins::fpchecker
