#include "tools/plugin_session.h"

#include <array>

#include "tools/host_platform.h"
#include "tools/tool_error.h"

namespace fpcheck {

namespace {

constexpr std::array<const char*, 12> kStatusNames = {
    "Success",  "Error",           "OutOfMemory", "NotInitialized",
    "AlreadyInitialized", "NotSupported", "InUse", "LoadFailed",
    "TimedOut", "ConnectionError", "CertificateError", "CloudError"};

std::string withReasons(std::string message, const ConsoleLog::Collect& collected) {
  const std::string reasons = collected.text("\n    ");
  if (!reasons.empty()) message += "\n  The plug-in said:\n    " + reasons;
  return message;
}

std::string describe(fp::Status status) {
  return statusName(status) + " (" + std::to_string(static_cast<std::uint32_t>(status)) + ")";
}

}  // namespace

std::string statusName(fp::Status status) {
  const auto index = static_cast<std::uint32_t>(status);
  return index < kStatusNames.size() ? kStatusNames[index] : "Unknown";
}

std::string versionText(const kesp::plugins::PluginVersion& version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
         std::to_string(version.patch) + "." + std::to_string(version.build);
}

PluginSession::Input::Input(kesp::HostLog& log, const std::string& hostData)
    : log_(log), hostData_(hostData) {
  record_.type = kesp::PluginInputDataString;
  record_.value = reinterpret_cast<std::uint64_t>(hostData_.c_str());
}

void PluginSession::Input::getVersion(std::uint32_t* major, std::uint32_t* minor) {
  if (major != nullptr) *major = 2;
  if (minor != nullptr) *minor = 0;
}

const kesp::PluginInputData* PluginSession::Input::getData(std::uint32_t id) {
  return id == kesp::PluginInputHostDataString ? &record_ : nullptr;
}

PluginSession::Library::Library(const std::string& path) {
  std::string reason;
  handle_ = openLibrary(path, reason);
  if (!handle_) {
    throw ToolError(ExitFailure, "cannot load the plug-in library '" + path + "': " + reason +
                                     "\n  It belongs beside fpcheck, as in the package's bin/; "
                                     "or give its path with --plugin.");
  }
  entry_ = reinterpret_cast<KESPGetPluginFunction>(findSymbol(handle_.get(), "KESPGetPlugin"));
  if (entry_ == nullptr) {
    throw ToolError(ExitFailure, "'" + path +
                                     "' exports no KESPGetPlugin: it is not the FP checker "
                                     "plug-in. Give the plug-in's path with --plugin.");
  }
}

PluginSession::PluginSession(const std::string& pluginPath, kesp::HostLog& log,
                             const std::string& hostData)
    : library_(pluginPath), input_(log, hostData) {
  ConsoleLog::Collect collected;
  plugin_.reset(library_.entry()(&input_));
  if (!plugin_) {
    throw ToolError(ExitFailure, withReasons("KESPGetPlugin returned no plug-in object.",
                                             collected));
  }
}

PluginSession::~PluginSession() {
  if (loaded_) static_cast<void>(checker_->unload());
  checker_.reset();
  plugin_.reset();
}

PluginInformation PluginSession::information() const {
  HostPtr<kesp::plugins::PluginInfoV1> info(plugin_->getPluginInfo());
  if (!info) throw ToolError(ExitFailure, "the plug-in gave no information object.");
  PluginInformation result;
  result.name = info->getName() != nullptr ? info->getName() : "";
  result.type = info->getPluginType();
  result.id = info->getPluginId();
  result.version = kesp::plugins::versionOf(*info);
  info->getApiVersion(&result.apiMajor, &result.apiMinor);
  return result;
}

void PluginSession::loadChecker(const CheckerSettings& settings) {
  ConsoleLog::Collect collected;
  checker_.reset(plugin_->getChecker());
  if (!checker_) throw ToolError(ExitFailure, withReasons("the plug-in gave no checker.", collected));
  fp::GlobalConfigV1* config = checker_->getConfig();
  config->setApiVersion(2, 0);
  const auto refused = [&](const std::string& what, fp::Status status) {
    return ToolError(ExitFailure,
                     withReasons("the checker refused " + what + ": " + describe(status) + ".",
                                 collected));
  };
  if (const fp::Status status = config->setBaseDirectory(settings.sdkDirectory.c_str());
      status != fp::Status::Success) {
    throw refused("the SDK directory '" + settings.sdkDirectory + "'", status);
  }
  for (const TextSetting& setting : settings.texts) {
    const kesp::plugins::GenericData option{setting.id, kesp::plugins::GenericDataString,
                                            reinterpret_cast<std::uint64_t>(setting.text.c_str())};
    if (const fp::Status status = config->setCustomOption(&option); status != fp::Status::Success) {
      throw refused(setting.flag + (setting.secret ? " (not shown)" : " '" + setting.text + "'"),
                    status);
    }
  }
  for (const NumberSetting& setting : settings.numbers) {
    const kesp::plugins::GenericData option{setting.id, kesp::plugins::GenericDataInt1,
                                            setting.number};
    if (const fp::Status status = config->setCustomOption(&option); status != fp::Status::Success) {
      throw refused(setting.flag + " " + std::to_string(setting.number), status);
    }
  }
  if (const fp::Status status = checker_->load(); status != fp::Status::Success) {
    throw ToolError(ExitFailure,
                    withReasons("the checker did not load the checker SDK from '" +
                                    settings.sdkDirectory + "': " + describe(status) + ".",
                                collected) +
                        "\n  Check that the directory holds the SDK library and its rules file "
                        "and that the options are valid; --log-level 3 shows every step.");
  }
  loaded_ = true;
  pluginFops_ = settings.pluginFops;
}

HostPtr<fp::InstanceV1> PluginSession::createInstance() {
  ConsoleLog::Collect collected;
  fp::InstanceV1* created = nullptr;
  if (const fp::Status status = checker_->createInstance(&created); status != fp::Status::Success) {
    throw ToolError(ExitFailure,
                    withReasons("the checker made no instance: " + describe(status) + ".", collected));
  }
  HostPtr<fp::InstanceV1> instance(created);
  if (!pluginFops_) {
    if (const fp::Status status = instance->setFops(&fops_); status != fp::Status::Success) {
      throw ToolError(ExitFailure, withReasons("the instance refused fpcheck's file operations: " +
                                                   describe(status) + ".",
                                               collected));
    }
  }
  return instance;
}

fp::Status PluginSession::unloadChecker() {
  const fp::Status status = checker_->unload();
  if (status == fp::Status::Success) loaded_ = false;
  return status;
}

void PluginSession::threadCleanup() {
  std::lock_guard lock(commands_);
  const fp::CheckerCommand command{fp::CommandThreadCleanup};
  static_cast<void>(checker_->sendCommand(&command));
}

}  // namespace fpcheck
