#include "plugin/checker_instance.h"

#include <utility>

#include "foundation/boundary.h"
#include "foundation/scope_guard.h"
#include "foundation/plugin_log.h"
#include "sdk_bridge/sdk_instance.h"
#include "sdk_bridge/sdk_loader.h"

namespace kesp::plugins::fpchecker {

using Job = InstanceMonitor::Job;

VFPCCheckerOptions::VFPCCheckerOptions(const plx::Logger& logger) noexcept
    : log_(pluginLog(logger)) {}

Status VFPCCheckerOptions::setCustomOption(const GenericData*) {
  log_.text(plx::LogError, "No custom options are supported at the moment");
  return Status::NotSupported;
}

VFPCCheckerInstance::VFPCCheckerInstance(const plx::Logger& logger, VfpcSdkLoader& loader,
                                         std::function<void()> onRelease)
    : log_(pluginLog(logger)),
      sdkInstance_(loader.createSdkInstance()),
      options_(logger),
      onRelease_(std::move(onRelease)) {}

VFPCCheckerInstance::~VFPCCheckerInstance() = default;

void VFPCCheckerInstance::release() {
  plx::callGuarded(log_, [this] {
    log_.text(plx::LogDebug, "Destroying VFPC checker instance");
    if (const Job running = monitor_.currentJob(); running != Job::None) {
      log_.format(plx::LogError, "VFPC checker instance is released while being busy in '%s'",
                  InstanceMonitor::jobText(running));
    }
  });
  // The checker's count falls only after the SDK instance is gone (with this
  // object): until then an unload on another thread must answer InUse, or it
  // would shut the SDK down and unmap its code under a destroyFpcInstance
  // that is still running.
  const plx::ScopeGuard lowerCountLast(std::move(onRelease_));
  std::unique_ptr<VFPCCheckerInstance> self(this);
}

OptionsV1* VFPCCheckerInstance::getOptions() {
  log_.text(plx::LogDebug, "Accessing VFPC checker options");
  return &options_;
}

Status VFPCCheckerInstance::setFops(FopsFactoryV1* factory) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    log_.text(plx::LogDebug, "Set fops for VFPC checker");
    const plx::ScopeGuard job = monitor_.assignJob(Job::SetFops);
    return sdkInstance_->registerUserFopsFactory(factory);
  });
}

InputV1* VFPCCheckerInstance::createInput(std::uint32_t type) {
  return plx::callGuarded(log_, static_cast<InputV1*>(nullptr), static_cast<InputV1*>(nullptr),
                          [&] {
                            log_.text(plx::LogDebug, "Creating VFPC checker Input object");
                            return sdkInstance_->createInput(type);
                          });
}

Status VFPCCheckerInstance::check(InputV1* input, OutputV1** output) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    log_.text(plx::LogDebug, "Check for false positive with VFPC checker");
    if (input == nullptr) {
      log_.text(plx::LogError, "Invalid check input: pointer is null");
      return Status::Error;
    }
    if (output == nullptr) {
      log_.text(plx::LogError, "Invalid check output: pointer is null");
      return Status::Error;
    }
    const plx::ScopeGuard job = monitor_.assignJob(Job::Check);
    return sdkInstance_->check(input, output);
  });
}

}  // namespace kesp::plugins::fpchecker
