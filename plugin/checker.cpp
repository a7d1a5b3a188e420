#include "plugin/checker.h"

#include <memory>

#include "foundation/boundary.h"
#include "foundation/exceptions.h"
#include "foundation/scope_guard.h"
#include "plugin/checker_instance.h"
#include "plugin/plugin_info.h"
#include "foundation/plugin_log.h"

namespace kesp::plugins::fpchecker {

namespace {
constexpr char kNotLoaded[] = "VFPC is not loaded";

const char* commandName(std::uint32_t id) noexcept {
  switch (id) {
    case CommandCheckConnection: return "check connection";
    case CommandThreadCleanup: return "thread cleanup";
    default: return "unknown";
  }
}
}  // namespace

VFPCChecker::VFPCChecker(const plx::Logger& logger, const std::string& hostDataString)
    : logger_(&logger),
      log_(pluginLog(logger)),
      hostDataString_(hostDataString),
      sdkLoader_(std::make_unique<VfpcSdkLoader>(logger)),
      config_(logger, *sdkLoader_) {}

void VFPCChecker::release() {
  plx::callGuarded(log_, [this] {
    log_.text(plx::LogDebug, "Releasing VFPC checker");
    // A loader that is still loaded shuts the SDK down in unload order.
    std::unique_ptr<VFPCChecker> self(this);
  });
}

GlobalConfigV1* VFPCChecker::getConfig() {
  log_.text(plx::LogDebug, "Accessing VFPC checker configuration");
  return &config_;
}

Status VFPCChecker::load() {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [this] {
    log_.text(plx::LogDebug, "Loading VFPC checker");
    return loadChecked();
  });
}

Status VFPCChecker::loadChecked() {
  if (loaded_) {
    log_.text(plx::LogError, "VFPC checker already loaded");
    return Status::AlreadyInitialized;
  }
  if (config_.apiMajor() != kApiVersionMajor) {
    log_.format(plx::LogError, "FP checker major API version is '%u', expected '%u'",
                config_.apiMajor(), kApiVersionMajor);
    return Status::NotSupported;
  }
  if (config_.apiMinor() != kApiVersionMinor) {
    log_.format(plx::LogError, "API version is '%u.%u', expected version to be at most '%u.%u'",
                kApiVersionMajor, config_.apiMinor(), kApiVersionMajor, kApiVersionMinor);
    return Status::NotSupported;
  }
  if (config_.baseDirectory().empty()) {
    log_.text(plx::LogError, "Missing mandatory configuration. Please define 'baseDirectory'");
    return Status::Error;
  }
  loadParameters_.baseDirectory = config_.baseDirectory();
  loadParameters_.hostDataString = hostDataString_;
  loadParameters_.pluginVersion = kPluginVersion;
  loadParameters_.configOptions = &config_.options();

  const Status status = sdkLoader_->load(loadParameters_);
  if (status != Status::Success) {
    log_.text(plx::LogError, "VFPC checker load failed.");
    return status;
  }
  loaded_ = true;
  config_.setLoaded(true);
  return Status::Success;
}

const CheckerInfo* VFPCChecker::getInfo() {
  log_.text(plx::LogDebug, "Accessing VFPC checker information");
  if (!loaded_) {
    log_.text(plx::LogError,
              "Error returning VFPC checker information: VFPC checker is not loaded");
    return nullptr;
  }
  return &info_;
}

Status VFPCChecker::sendCommand(const CheckerCommand* command) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (command == nullptr) {
      log_.text(plx::LogError, "Error sending command: command is null");
      return Status::Error;
    }
    const std::uint32_t id = command->id;
    log_.format(plx::LogInfo, "Sending '%s' command to VFPC checker", commandName(id));
    switch (id) {
      case CommandCheckConnection:
        return Status::NotSupported;
      case CommandThreadCleanup:
        if (!loaded_) {
          log_.text(plx::LogError, kNotLoaded);
          return Status::NotInitialized;
        }
        sdkLoader_->runThreadCleanup();
        return Status::Success;
      default:
        log_.format(plx::LogError, "Error sending command: unknown command id '%u'", id);
        return Status::Error;
    }
  });
}

Status VFPCChecker::createInstance(InstanceV1** instance) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    log_.text(plx::LogDebug, "Creating VFPC checker instance");
    return createInstanceChecked(instance);
  });
}

Status VFPCChecker::createInstanceChecked(InstanceV1** instance) {
  static constexpr char kFailed[] = "Failed to create VFPC checker instance: %s";
  if (!loaded_) {
    log_.format(plx::LogError, kFailed, "VFPC checker is not loaded");
    return Status::NotInitialized;
  }
  if (instance == nullptr) {
    log_.format(plx::LogError, kFailed, "instance pointer is null");
    return Status::Error;
  }
  std::unique_ptr<VFPCCheckerInstance> created;
  try {
    created = std::make_unique<VFPCCheckerInstance>(
        *logger_, *sdkLoader_, [this]() noexcept { instanceCount_.fetch_sub(1); });
  } catch (const ErrorCodeException& error) {
    log_.format(plx::LogError, kFailed, error.what());
    return static_cast<Status>(error.getErrorCode());
  }
  // Counted before the host can see it, so that a release on another thread
  // never brings the count below zero.
  instanceCount_.fetch_add(1);
  *instance = created.release();
  return Status::Success;
}

Status VFPCChecker::unload() {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [this] {
    log_.text(plx::LogDebug, "Unloading VFPC checker");
    if (!loaded_) {
      log_.text(plx::LogError, kNotLoaded);
      return Status::NotInitialized;
    }
    const std::uint64_t count = instanceCount_.load();
    if (count != 0) {
      log_.format(plx::LogError,
                  "VFPC checker can't be unloaded since there are still '%llu' instances running",
                  static_cast<unsigned long long>(count));
      return Status::InUse;
    }
    // Whatever way the loader's unload ends, an SDK it has let go of leaves
    // the checker unloaded.
    const plx::ScopeGuard followLoader([this] {
      if (sdkLoader_->loaded()) return;
      loaded_ = false;
      config_.setLoaded(false);
    });
    return sdkLoader_->unload();
  });
}

}  // namespace kesp::plugins::fpchecker
