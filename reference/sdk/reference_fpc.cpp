#include "reference/sdk/reference_fpc.h"

#include <fstream>
#include <new>
#include <system_error>

#include "foundation/proxy_mask.h"
#include "reference/sdk/address_check.h"
#include "reference/sdk/module_directory.h"

namespace vfpcsdk {

namespace {

std::string utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path fromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string describe(const fpcsdk::DetectionInput& input) {
  std::string text = "'" + input.detectionName + "'";
  if (!input.hash.empty()) text += " hash " + input.hash;
  text += " size " + std::to_string(input.fileSize);
  if (!input.filePath.empty()) text += " path '" + input.filePath + "'";
  return text;
}

}  // namespace

std::int32_t ReferenceInstance::checkDetection(const fpcsdk::DetectionInput& input,
                                               bool* isFalsePositive) {
  return guarded(log_, "checkDetection", [&]() -> std::int32_t {
    if (isFalsePositive == nullptr) {
      log_.write(LevelError, [] { return std::string("Invalid check: no place for the verdict"); });
      return InvalidParameters;
    }
    if (input.detectionName.empty()) {
      log_.write(LevelError,
                 [] { return std::string("Invalid check: the detection name is empty"); });
      return InvalidParameters;
    }
    if (!input.hash.empty() && !isSha256(input.hash)) {
      log_.write(LevelError, [&] {
        return "Invalid check: the hash '" + input.hash +
               "' is not a SHA-256 (64 hexadecimal digits)";
      });
      return InvalidParameters;
    }
    bool falsePositive = false;
    const std::int32_t code =
        client_ != nullptr ? client_->check(input, falsePositive) : decideOffline(input, falsePositive);
    if (code == Ok) *isFalsePositive = falsePositive;
    return code;
  });
}

std::int32_t ReferenceInstance::decideOffline(const fpcsdk::DetectionInput& input,
                                              bool& falsePositive) const {
  const Rule* rule = rules_->find(input.detectionName, input.hash);
  falsePositive = rule != nullptr && rule->falsePositive;
  log_.write(LevelDebug, [&] {
    std::string text = "Check " + describe(input) + ": ";
    if (rule == nullptr) return text + "no rule applies, not a false positive";
    text += rule->falsePositive ? "false positive" : "not a false positive";
    return text + " by the rule on line " + std::to_string(rule->line);
  });
  return Ok;
}

// Instances still alive go with the object: nothing of this library may
// outlive it.
ReferenceFpc::~ReferenceFpc() = default;

std::int32_t ReferenceFpc::checkSettings(const fpcsdk::FPCConfig& config) const {
  const auto refuse = [this](std::string reason) {
    log_.write(LevelError, [&] { return "Invalid settings: " + reason; });
    return InvalidParameters;
  };
  if (config.cloudUrl.empty()) return refuse("the cloud URL is empty");
  const bool offline = config.cloudUrl.rfind(kOfflineScheme, 0) == 0;
  if (offline && config.cloudUrl.size() == sizeof kOfflineScheme - 1) {
    return refuse("the cloud URL 'file:' names no rules file");
  }
  if (!offline && !isWellFormedCloudUrl(config.cloudUrl)) {
    return refuse("the cloud URL '" + config.cloudUrl +
                  "' is not an http:// or https:// address with a host, nor file:<rules file>");
  }
  if (config.connectionRetries == 0) return refuse("connection retries must be at least 1");
  if (config.connectionTimeout == 0) return refuse("the connection timeout must be at least 1");
  if (config.dataTimeout == 0) return refuse("the data timeout must be at least 1");
  if (config.hostDataString.empty()) return refuse("the host data string is empty");
  return Ok;
}

std::int32_t ReferenceFpc::readRules(const std::string& name,
                                     std::shared_ptr<const RuleSet>& rules) const {
  std::filesystem::path path = fromUtf8(name);
  try {
    if (path.is_relative()) path = moduleDirectory() / path;
  } catch (const std::runtime_error& error) {
    log_.write(LevelError, [&] {
      return std::string("Cannot find the rules file: the library's directory is unknown: ") +
             error.what();
    });
    return EndpointNotFound;
  }
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(path, ignored);
  const char* problem = nullptr;
  if (!std::filesystem::exists(status)) {
    problem = "it does not exist";
  } else if (!std::filesystem::is_regular_file(status)) {
    problem = "it is not a regular file";
  }
  std::ifstream file;
  if (problem == nullptr) {
    file.open(path, std::ios::binary);
    if (!file) problem = "it cannot be opened";
  }
  if (problem != nullptr) {
    log_.write(LevelError,
               [&] { return "Cannot read the rules file '" + utf8(path) + "': " + problem; });
    return EndpointNotFound;
  }

  ParsedRules parsed = parseRules(file);
  if (file.bad()) {
    log_.write(LevelError, [&] { return "Reading the rules file '" + utf8(path) + "' failed"; });
    return EndpointNotFound;
  }
  if (!parsed.errors.empty()) {
    for (const RuleError& error : parsed.errors) {
      log_.write(LevelError, [&] {
        return "Rules file '" + utf8(path) + "', line " + std::to_string(error.line) + ": " +
               error.reason;
      });
    }
    log_.write(LevelError, [&] {
      return "Rules file '" + utf8(path) + "' refused: " + std::to_string(parsed.errors.size()) +
             " bad line(s); correct them and load again";
    });
    return CloudError;
  }
  if (parsed.rules.empty()) {
    log_.write(LevelWarning, [&] {
      return "Rules file '" + utf8(path) + "' holds no rule: no detection is a false positive";
    });
  }
  log_.write(LevelInfo, [&] {
    return "Read " + std::to_string(parsed.rules.size()) + " rule(s) from '" + utf8(path) + "'";
  });
  rules = std::make_shared<const RuleSet>(std::move(parsed.rules));
  return Ok;
}

std::int32_t ReferenceFpc::startCloud(const fpcsdk::FPCConfig& config) {
  CloudConfig cloud;
  cloud.url = config.cloudUrl;
  cloud.apiKey = config.sdkText1;
  cloud.clientId = config.sdkText4;
  cloud.clientTag = config.sdkText7;
  cloud.userAgent = userAgentFor(config.pluginVersionText);
  cloud.hostData = config.hostDataString;
  cloud.connectTimeoutMs = config.connectionTimeout;
  cloud.dataTimeoutMs = config.dataTimeout;
  cloud.attempts = config.connectionRetries;
  stack_.emplace();
  cloud_ = std::make_shared<CloudService>(std::move(cloud), log_,
                                          CloudSeams{makeHttpTransport, &systemTime()});
  if (config.cloudUrl.rfind("http://", 0) == 0 || config.cloudUrl.rfind("HTTP://", 0) == 0) {
    log_.write(LevelWarning, [&] {
      return "The cloud URL '" + config.cloudUrl +
             "' is plain HTTP: the API key and every check travel unencrypted; use it for "
             "tests on this machine only";
    });
  }
  log_.write(LevelDebug, [&] {
    return "Settings: cloud URL '" + config.cloudUrl + "', connection timeout " +
           std::to_string(config.connectionTimeout) + " ms, data timeout " +
           std::to_string(config.dataTimeout) + " ms, " +
           std::to_string(config.connectionRetries) + " attempt(s), API key " +
           (config.sdkText1.empty() ? "none" : "set") + ", plug-in version " +
           config.pluginVersionText;
  });
  return Ok;
}

std::int32_t ReferenceFpc::initialize(const fpcsdk::FPCConfig& config) {
  return guarded(log_, "initialize", [&]() -> std::int32_t {
    std::lock_guard lock(mutex_);
    if (initialized_) {
      log_.write(LevelError, [] { return std::string("Already initialized"); });
      return AlreadyInitialized;
    }
    if (const std::int32_t code = checkSettings(config); code != Ok) return code;
    if (config.cloudUrl.rfind(kOfflineScheme, 0) != 0) {
      if (const std::int32_t code = startCloud(config); code != Ok) return code;
      initialized_ = true;
      return Ok;
    }
    std::shared_ptr<const RuleSet> rules;
    const std::string name = config.cloudUrl.substr(sizeof kOfflineScheme - 1);
    if (const std::int32_t code = readRules(name, rules); code != Ok) return code;
    log_.write(LevelDebug, [&] {
      return "Settings: cloud URL '" + config.cloudUrl + "' (offline: verdicts come from " +
             "the rules file), connection timeout " + std::to_string(config.connectionTimeout) +
             ", data timeout " + std::to_string(config.dataTimeout) + ", connection retries " +
             std::to_string(config.connectionRetries) + ", plug-in version " +
             config.pluginVersionText;
    });
    rules_ = std::move(rules);
    initialized_ = true;
    return Ok;
  });
}

std::int32_t ReferenceFpc::createFpcInstance(fpcsdk::FPCInstance** instance) {
  return guarded(log_, "createFpcInstance", [&]() -> std::int32_t {
    if (instance == nullptr) {
      log_.write(LevelError,
                 [] { return std::string("Cannot create an instance: no place to put it"); });
      return InvalidParameters;
    }
    std::lock_guard lock(mutex_);
    if (!initialized_) {
      log_.write(LevelError,
                 [] { return std::string("Cannot create an instance: not initialized"); });
      return NotInitialized;
    }
    auto created = cloud_ != nullptr ? std::make_unique<ReferenceInstance>(cloud_, log_)
                                     : std::make_unique<ReferenceInstance>(rules_, log_);
    fpcsdk::FPCInstance* key = created.get();
    instances_.emplace(key, std::move(created));
    *instance = key;
    return Ok;
  });
}

std::int32_t ReferenceFpc::destroyFpcInstance(fpcsdk::FPCInstance* instance) {
  return guarded(log_, "destroyFpcInstance", [&]() -> std::int32_t {
    std::unique_ptr<ReferenceInstance> doomed;
    {
      std::lock_guard lock(mutex_);
      const auto found = instances_.find(instance);
      if (found == instances_.end()) {
        log_.write(LevelError, [] {
          return std::string("Cannot destroy an instance this SDK object did not create");
        });
        return InvalidParameters;
      }
      doomed = std::move(found->second);
      instances_.erase(found);
    }
    return Ok;
  });
}

std::int32_t ReferenceFpc::setProxy(const std::string& proxy, const std::string& certificatePath) {
  return guarded(log_, "setProxy", [&]() -> std::int32_t {
    std::lock_guard lock(mutex_);
    if (!initialized_) {
      log_.write(LevelError, [] { return std::string("Cannot set the proxy: not initialized"); });
      return NotInitialized;
    }
    if (!proxy.empty() && !isWellFormedProxy(proxy)) {
      log_.write(LevelError, [&] {
        return "Invalid proxy '" + plx::maskProxyPassword(proxy) +
               "': give host:port or a URL such as http://host:port or socks5://host:port";
      });
      return InvalidParameters;
    }
    if (std::string whyNot; !proxy.empty() && !transportTakesProxy(proxy, whyNot)) {
      log_.write(LevelError,
                 [&] { return "Invalid proxy '" + plx::maskProxyPassword(proxy) + "': " + whyNot; });
      return InvalidParameters;
    }
    std::error_code ignored;
    if (!certificatePath.empty() && !std::filesystem::exists(fromUtf8(certificatePath), ignored)) {
      log_.write(LevelError,
                 [&] { return "The certificate path '" + certificatePath + "' does not exist"; });
      return CertificateError;
    }
    proxy_ = proxy;
    certificatePath_ = certificatePath;
    if (cloud_ != nullptr) {
      Route route;
      route.proxy = proxy;
      route.certificatePath = certificatePath;
      route.certificateDirectory =
          !certificatePath.empty() && std::filesystem::is_directory(fromUtf8(certificatePath), ignored);
      cloud_->setRoute(std::move(route));
    }
    log_.write(LevelDebug, [&] {
      return "Proxy '" + plx::maskProxyPassword(proxy_) + "' and certificate path '" +
             certificatePath_ + "' accepted" +
             (cloud_ != nullptr ? ": they take effect at each instance's next request"
                                : " (the offline decider uses neither)");
    });
    return Ok;
  });
}

std::int32_t ReferenceFpc::uninitialize() {
  return guarded(log_, "uninitialize", [&]() -> std::int32_t {
    std::lock_guard lock(mutex_);
    if (!initialized_) {
      log_.write(LevelError, [] { return std::string("Cannot uninitialize: not initialized"); });
      return NotInitialized;
    }
    if (!instances_.empty()) {
      log_.write(LevelError, [&] {
        return "Cannot uninitialize: " + std::to_string(instances_.size()) +
               " instance(s) still exist; destroy them first";
      });
      return InvalidParameters;
    }
    initialized_ = false;
    rules_.reset();
    cloud_.reset();  // and with it the verdicts kept
    stack_.reset();
    proxy_.clear();
    certificatePath_.clear();
    log_.write(LevelDebug, [] { return std::string("Uninitialized"); });
    return Ok;
  });
}

std::int32_t ReferenceFpc::reserved() { return Ok; }

std::int32_t ReferenceFpc::threadCleanup() {
  releaseThreadState();
  log_.write(LevelDebug, [] {
    return std::string("Thread cleanup: released what the HTTP and TLS stacks kept for this thread");
  });
  return Ok;
}

}  // namespace vfpcsdk
