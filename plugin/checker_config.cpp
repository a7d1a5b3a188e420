#include "plugin/checker_config.h"

#include <utility>

#include "foundation/boundary.h"
#include "foundation/plugin_log.h"
#include "sdk_bridge/sdk_loader.h"

namespace kesp::plugins::fpchecker {

bool isTextOption(std::uint32_t id) noexcept {
  return id != OptionConnectionTimeout && id != OptionDataTimeout &&
         id != OptionConnectionRetries;
}

namespace {
// Whether a stored type can be read as the kind of its id. No option takes
// custom data (type 5); types 6 and above have a refusal of their own, in
// the conversion.
bool typeFitsOption(std::uint32_t id, std::uint32_t type) noexcept {
  if (type > GenericDataCustom) return true;
  if (isTextOption(id)) return type == GenericDataString;
  return type >= GenericDataInt1 && type <= GenericDataInt3;
}

// What an option takes, for the refusal of a value that does not fit.
const char* takenTypes(std::uint32_t id) noexcept {
  return isTextOption(id) ? "text (type 4)" : "a number (type 1, 2 or 3)";
}
}  // namespace

VFPCCheckerConfig::VFPCCheckerConfig(const plx::Logger& logger, VfpcSdkLoader& loader) noexcept
    : log_(pluginLog(logger)), loader_(&loader) {}

void VFPCCheckerConfig::setLoaded(bool loaded) noexcept {
  loaded_ = loaded;
  if (loaded) {
    loader_->takeLoadedProxy(onTheFlyProxy_, onTheFlyCertificatePath_);
  } else {
    onTheFlyProxy_.clear();
    onTheFlyCertificatePath_.clear();
  }
}

void VFPCCheckerConfig::setApiVersion(std::uint32_t major, std::uint32_t minor) {
  apiMajor_ = major;
  apiMinor_ = minor;
}

Status VFPCCheckerConfig::setBaseDirectory(const char* directory) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (directory == nullptr || *directory == '\0') {
      log_.text(plx::LogError, "Invalid configuration: base directory is null or empty");
      return Status::Error;
    }
    baseDirectory_ = directory;
    return Status::Success;
  });
}

Status VFPCCheckerConfig::setCustomOption(const GenericData* option) {
  return plx::callGuarded(log_, Status::Error, Status::OutOfMemory, [&] {
    if (option == nullptr) {
      log_.text(plx::LogError, "Invalid configuration: custom option is null");
      return Status::Error;
    }
    // Read once: a host thread may change its own record during the call,
    // and what is checked must be what is stored.
    const GenericData copy = *option;
    return storeOption(copy);
  });
}

Status VFPCCheckerConfig::storeOption(const GenericData& option) {
  if (option.id > kMaxGlobalOptionId) {
    log_.format(plx::LogError, "Invalid configuration: custom option id '%u' is invalid", option.id);
    return Status::Error;
  }
  // Checked before anything reads the value: a number stored under a text id
  // would otherwise be read as a pointer.
  if (!typeFitsOption(option.id, option.type)) {
    log_.format(plx::LogError,
                "Invalid configuration: custom option id '%u' does not take values of type "
                "'%u'; it takes %s",
                option.id, option.type, takenTypes(option.id));
    return Status::Error;
  }

  GenericData copy = option;
  const bool isProxyPair = option.id == OptionProxy || option.id == OptionCertificatePath;
  // A missing proxy or certificate path means "none", not an error.
  static constexpr char kEmpty[] = "";
  if (isProxyPair && option.type == GenericDataString && copy.value == 0) {
    copy.value = reinterpret_cast<std::uint64_t>(kEmpty);
  }

  GenericDataEntry entry(copy, factory_);
  if (loaded_ && isProxyPair && option.type == GenericDataString) {
    // Whatever can run out of memory happens before the SDK hears of the
    // change: once the SDK has taken a value, this object must take it too.
    std::string value = entry.text();
    if (options_.size() == options_.capacity()) options_.reserve(2 * options_.size() + 1);
    const bool isProxy = option.id == OptionProxy;
    const Status status = loader_->setOnTheFlyProxy(isProxy ? value : onTheFlyProxy_,
                                                    isProxy ? onTheFlyCertificatePath_ : value);
    if (status != Status::Success) return status;
    (isProxy ? onTheFlyProxy_ : onTheFlyCertificatePath_).swap(value);
  }

  options_.push_back(std::move(entry));
  return Status::Success;
}

void VFPCCheckerConfig::reset() {
  plx::callGuarded(log_, [&] {
    apiMajor_ = 0;
    apiMinor_ = 0;
    baseDirectory_.clear();
    options_.clear();
  });
}

}  // namespace kesp::plugins::fpchecker
