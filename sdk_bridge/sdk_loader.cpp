#include "sdk_bridge/sdk_loader.h"

#include <exception>
#include <new>
#include <string>
#include <utility>

#include "foundation/boundary.h"
#include "foundation/exceptions.h"
#include "foundation/module_pin.h"
#include "foundation/proxy_mask.h"
#include "foundation/scope_guard.h"
#include "foundation/plugin_log.h"
#include "sdk_bridge/sdk_error.h"
#include "sdk_bridge/sdk_instance.h"

namespace kesp::plugins::fpchecker {

VfpcSdkLibrary::VfpcSdkLibrary(const std::string& path)
    : module_(path),
      fpcCreate_(module_.getFunction<FPCCreateFunction>(kFpcCreateName)),
      fpcDestroy_(module_.getFunction<FPCDestroyFunction>(kFpcDestroyName)) {}

namespace {

// The last entry of id, scanning from the end; null when there is none.
const GenericDataEntry* lastOption(const SdkLoadParameters& parameters, std::uint32_t id) {
  if (parameters.configOptions == nullptr) return nullptr;
  const auto& options = *parameters.configOptions;
  for (auto entry = options.rbegin(); entry != options.rend(); ++entry) {
    if (entry->id() == id) return &*entry;
  }
  return nullptr;
}

std::string textOption(const SdkLoadParameters& parameters, std::uint32_t id) {
  const GenericDataEntry* entry = lastOption(parameters, id);
  return entry != nullptr ? entry->text() : "";
}

std::uint64_t numberOption(const SdkLoadParameters& parameters, std::uint32_t id,
                           std::uint64_t fallback) {
  const GenericDataEntry* entry = lastOption(parameters, id);
  return entry != nullptr ? entry->value() : fallback;
}

std::string versionText(const PluginVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch) + "." + std::to_string(version.build);
}

}  // namespace

Status buildFpcConfig(const SdkLoadParameters& parameters, const plx::LogChannel& log,
                      fpcsdk::FPCConfig& config) {
  config.cloudUrl = textOption(parameters, OptionCloudUrl);
  if (config.cloudUrl.empty()) config.cloudUrl = kDefaultCloudUrl;
  config.sdkText1 = textOption(parameters, OptionSdkText1);
  config.hostDataString = parameters.hostDataString;
  config.pluginVersionText = versionText(parameters.pluginVersion);
  config.sdkText7 = textOption(parameters, OptionSdkText7);
  config.sdkText4 = textOption(parameters, OptionSdkText4);

  // Checked in this order; the first violation ends the load.
  struct NumberSetting {
    std::uint32_t id;
    std::uint64_t fallback;
    std::uint64_t maximum;
    const char* name;
    std::uint64_t value;
  };
  NumberSetting numbers[] = {
      {OptionConnectionTimeout, kDefaultConnectionTimeout, kMaxTimeout, "connection timeout", 0},
      {OptionDataTimeout, kDefaultDataTimeout, kMaxTimeout, "data timeout", 0},
      {OptionConnectionRetries, kDefaultConnectionRetries, kMaxConnectionRetries,
       "connection retries", 0},
  };
  for (NumberSetting& number : numbers) {
    number.value = numberOption(parameters, number.id, number.fallback);
    if (number.value > number.maximum) {
      log.format(plx::LogError, "Invalid configuration: %s '%llu' exceeds the maximum allowed",
                 number.name, static_cast<unsigned long long>(number.value));
      return Status::Error;
    }
  }
  config.connectionTimeout = numbers[0].value;
  config.dataTimeout = numbers[1].value;
  // Within 32 bits: checked above.
  config.connectionRetries = static_cast<std::uint32_t>(numbers[2].value);
  return Status::Success;
}

VfpcSdkLoader::VfpcSdkLoader(const plx::Logger& logger)
    : logger_(&logger), log_(pluginLog(logger)) {}

VfpcSdkLoader::~VfpcSdkLoader() {
  shutDownOnRelease();
  // An interface left behind by an earlier unload may have dropped more lines
  // since.
  if (retiredLogger_ != nullptr) {
    reportDroppedLines(retiredLogger_->droppedLines() - retiredLoggerReported_);
  }
}

Status VfpcSdkLoader::load(const SdkLoadParameters& parameters) {
  if (parameters.baseDirectory.empty()) {
    log_.text(plx::LogError, "Invalid configuration: base directory is empty");
    return Status::Error;
  }
  const std::string path =
      plx::joinPath({parameters.baseDirectory, plx::sharedLibraryFileName(kSdkLibraryName)});

  std::unique_ptr<VfpcSdkLibrary> library;
  try {
    library = std::make_unique<VfpcSdkLibrary>(path);
  } catch (const std::exception& error) {
    log_.format(plx::LogError, "Failed to load VFPC SDK library '%s'. %s", path.c_str(),
                error.what());
    return Status::LoadFailed;
  }
  // The SDK object of this load gets an interface of its own: one that an
  // earlier SDK object might still call is closed.
  auto sdkLogger = std::make_unique<VfpcSdkLogger>(*logger_);
  // A library still held is freed only after the new one is in place.
  library_.swap(library);
  library.reset();
  sdkLogger_ = std::move(sdkLogger);

  plx::ScopeGuard undo([this] { releaseLibrary(); });
  logLoadedLibrary();
  const Status status = createConfiguredSdk(parameters);
  if (status == Status::Success) undo.dismiss();
  return status;
}

void VfpcSdkLoader::logLoadedLibrary() const {
  // Which SDK file a host runs is the first question of a support case.
  // Reading the file's version costs file system calls: only when the host
  // keeps information lines.
  if (!log_.isEnabled(plx::LogInfo)) return;
  const plx::LibraryFile file = library_->file();
  log_.format(plx::LogInfo, "Loaded VFPC SDK library '%s': %s", file.path.c_str(),
              file.identity.c_str());
}

Status VfpcSdkLoader::createConfiguredSdk(const SdkLoadParameters& parameters) {
  fpcsdk::LogInterface* sdkLog =
      logger_->logInterface() != nullptr ? sdkLogger_.get() : nullptr;
  fpcsdk::FPC* created = nullptr;
  const std::int32_t createCode =
      callSdk("FPCCreate", [&] { return library_->fpcCreate()(sdkLog, &created); });
  if (createCode != fpcsdk::Ok) {
    log_.format(plx::LogError, "Internal error: creation of VFPC object failed with error %s",
                sdkErrorToString(createCode));
    return sdkErrorToStatus(createCode);
  }
  if (created == nullptr) {
    // Success without an object: nothing to destroy, nothing to call.
    throw InternalException("VFPC SDK reported success but created no VFPC object");
  }
  fpc_ = created;
  // Runs before the library guard of the caller: the SDK object dies before
  // its code is unmapped. uninitialize is never called on this path.
  plx::ScopeGuard destroyFpc([this] { destroySdkObject(); });

  fpcsdk::FPCConfig config;
  if (const Status status = buildFpcConfig(parameters, log_, config); status != Status::Success) {
    return status;
  }

  const std::int32_t initializeCode =
      callSdk("initialize", [&] { return fpc_->initialize(config); });
  if (initializeCode != fpcsdk::Ok) {
    log_.format(plx::LogError, "VFPC initialization failed with error %s",
                sdkErrorToString(initializeCode));
    return sdkErrorToStatus(initializeCode);
  }

  const std::string proxy = textOption(parameters, OptionProxy);
  const std::string certificatePath = textOption(parameters, OptionCertificatePath);
  // Copied before the SDK hears of them, so that running out of memory here
  // cannot undo a load after the SDK has taken its proxy. Read only after a
  // load that succeeded.
  loadedProxy_ = proxy;
  loadedCertificatePath_ = certificatePath;

  const std::int32_t proxyCode =
      callSdk("setProxy", [&] { return fpc_->setProxy(proxy, certificatePath); });
  if (proxyCode != fpcsdk::Ok) {
    log_.format(plx::LogError,
                "Failed to set proxy '%s' with certificate path '%s' in VFPC SDK library: %s",
                plx::maskProxyPassword(proxy).c_str(), certificatePath.c_str(),
                sdkErrorToString(proxyCode));
    return sdkErrorToStatus(proxyCode);
  }

  destroyFpc.dismiss();
  return Status::Success;
}

Status VfpcSdkLoader::unload() {
  if (!library_) {
    log_.text(plx::LogError, "Failed to unload VFPC SDK library: not loaded");
    return Status::NotInitialized;
  }
  const std::int32_t code = callSdk("uninitialize", [this] { return fpc_->uninitialize(); });
  if (code == fpcsdk::Ok) {
    // A destroy that throws has still ended the object, which a retry must
    // not reach: the library goes as usual, and the SDK's exception leaves
    // as one of the plug-in's.
    plx::ScopeGuard release([this] { releaseLibrary(); });
    destroySdkObject();
  }
  const Status status = sdkErrorToStatus(code);
  if (status != Status::Success) return status;
  releaseLibrary();
  return Status::Success;
}

void VfpcSdkLoader::destroySdkObject() {
  fpcsdk::FPC* const fpc = std::exchange(fpc_, nullptr);
  // From the moment FPCDestroy returns (or throws), the SDK's lines are
  // dropped: the host has nothing more to hear from an ended object.
  plx::ScopeGuard close([this] { sdkLogger_->close(); });
  callSdk("FPCDestroy", [&] { library_->fpcDestroy()(fpc); });
}

void VfpcSdkLoader::releaseLibrary() noexcept {
  if (!library_) return;
  // Any address inside the library tells afterwards whether it is gone.
  const void* const libraryCode = reinterpret_cast<const void*>(library_->fpcCreate());
  library_.reset();
  if (!sdkLogger_) return;
  sdkLogger_->close();
  const std::uint64_t dropped = sdkLogger_->droppedLines();
  if (plx::moduleHoldsAddress(libraryCode)) {
    // The library stayed (the system keeps it, or it keeps itself): its code
    // may still call the interface, whose code is this plug-in's.
    retiredLogger_ = sdkLogger_.get();
    retiredLoggerReported_ = dropped;
    VfpcSdkLogger::abandon(std::move(sdkLogger_));
    plx::pinOwnModule();
  } else {
    sdkLogger_.reset();
  }
  reportDroppedLines(dropped);
}

void VfpcSdkLoader::reportDroppedLines(std::uint64_t dropped) const noexcept {
  if (dropped == 0) return;
  log_.format(plx::LogInfo, "Dropped %llu log line(s) that the VFPC SDK wrote after FPCDestroy",
              static_cast<unsigned long long>(dropped));
}

void VfpcSdkLoader::takeLoadedProxy(std::string& proxy, std::string& certificatePath) noexcept {
  proxy.swap(loadedProxy_);
  certificatePath.swap(loadedCertificatePath_);
  loadedProxy_.clear();
  loadedCertificatePath_.clear();
}

Status VfpcSdkLoader::setOnTheFlyProxy(const std::string& proxy,
                                       const std::string& certificatePath) {
  const std::int32_t code =
      callSdk("setProxy", [&] { return fpc_->setProxy(proxy, certificatePath); });
  if (code != fpcsdk::Ok) {
    log_.format(plx::LogError,
                "Failed to set on-the-fly proxy '%s' with certificate path '%s' in VFPC SDK "
                "library: %s",
                plx::maskProxyPassword(proxy).c_str(), certificatePath.c_str(),
                sdkErrorToString(code));
  }
  return sdkErrorToStatus(code);
}

void VfpcSdkLoader::runThreadCleanup() {
  callSdk("threadCleanup", [this] { return fpc_->threadCleanup(); });
}

std::unique_ptr<VfpcSdkInstance> VfpcSdkLoader::createSdkInstance() {
  return std::make_unique<VfpcSdkInstanceImpl>(*logger_, fpc_);
}

void VfpcSdkLoader::shutDownOnRelease() noexcept {
  if (!library_) return;
  plx::callGuarded(log_, [this] {
    const std::int32_t code = callSdk("uninitialize", [this] { return fpc_->uninitialize(); });
    if (code != fpcsdk::Ok) {
      // The SDK object is still alive and may run code of the library: the
      // library is deliberately left mapped rather than freed under it.
      log_.format(plx::LogError,
                  "Failed to shut down VFPC SDK library on release: %s; the library stays loaded",
                  sdkErrorToString(code));
      keepSdkAlive();
      return;
    }
    plx::ScopeGuard release([this] { releaseLibrary(); });
    destroySdkObject();
  });
  // An exception above (an unknown code) also leaves the SDK alive.
  if (library_ && fpc_ != nullptr) keepSdkAlive();
}

void VfpcSdkLoader::keepSdkAlive() noexcept {
  // The SDK object may still run code of the library and call its log
  // interface: both stay, the interface silenced. That interface's code is
  // in this plug-in, which the host may free once it has released the
  // plug-in object: the plug-in's own module stays mapped as well.
  library_->keepLoaded();
  library_.reset();
  VfpcSdkLogger::abandon(std::move(sdkLogger_));
  plx::pinOwnModule();
  fpc_ = nullptr;
}

}  // namespace kesp::plugins::fpchecker
