// A minimal checker SDK that keeps every rule of the interface
// (fpcsdk/fpcsdk.h; SDK.md, the SDK builder's guide, gives each rule with the
// fpcsdk-conform clause that checks it) and passes the kit. Its decision is
// a stand-in: a detection is a false positive when its name is on a short
// list. Replace decide() with your own and keep the rest of the shape.
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <unordered_map>

#include "fpcsdk/codes.h"
#include "fpcsdk/fpcsdk.h"

namespace example {

// No exception leaves the SDK [no-throw]: every operation runs its body
// here and answers with a code of the interface [codes].
template <class Body>
std::int32_t guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return fpcsdk::OutOfMemory;
  } catch (...) {
    return fpcsdk::CloudError;
  }
}

// The host's log, or none. Lines are UTF-8 at levels 0 to 3 [log-text], and
// written only while the SDK object lives [log-after-destroy]: this SDK
// writes none from a destructor of its own or from a thread.
class Log {
 public:
  explicit Log(fpcsdk::LogInterface* log) noexcept : log_(log) {}
  void write(std::int32_t level, const std::string& text) const noexcept {
    if (log_ == nullptr) return;
    try {
      if (log_->filter(level)) log_->log(level, 0, text);
    } catch (...) {
    }
  }

 private:
  fpcsdk::LogInterface* log_;
};

using Decisions = std::set<std::string>;

// Replace with your own decision. Instances share only what is immutable
// once made, so they need no lock [known-answers].
bool decide(const Decisions& falsePositives, const fpcsdk::DetectionInput& input) {
  return falsePositives.count(input.detectionName) != 0;
}

class Instance final : public fpcsdk::FPCInstance {
 public:
  explicit Instance(std::shared_ptr<const Decisions> decisions) noexcept
      : decisions_(std::move(decisions)) {}
  ~Instance() = default;

  std::int32_t checkDetection(const fpcsdk::DetectionInput& input, bool* isFalsePositive) override {
    return guarded([&] {
      if (isFalsePositive == nullptr || input.detectionName.empty()) {
        return fpcsdk::InvalidParameters;
      }
      // Written on every success [verdict-written].
      *isFalsePositive = decide(*decisions_, input);
      return fpcsdk::Ok;
    });
  }

 private:
  std::shared_ptr<const Decisions> decisions_;
};

// A proxy this SDK could use: empty, or host:port or scheme://host:port
// without blanks.
bool wellFormedProxy(const std::string& proxy) {
  if (proxy.empty()) return true;
  if (proxy.find_first_of(" \t") != std::string::npos) return false;
  const std::size_t colon = proxy.rfind(':');
  return colon != std::string::npos && colon + 1 < proxy.size() &&
         proxy.find_first_not_of("0123456789", colon + 1) == std::string::npos;
}

// One mutex guards the object's state, so that every operation may come
// from any thread; checks run on the instances without it.
class Fpc final : public fpcsdk::FPC {
 public:
  explicit Fpc(fpcsdk::LogInterface* log) noexcept : log_(log) {}

  std::int32_t initialize(const fpcsdk::FPCConfig& config) override {
    return guarded([&] {
      const std::lock_guard lock(mutex_);
      if (decisions_ != nullptr) return fpcsdk::AlreadyInitialized;  // [initialize]
      // Copies only: the record is gone when this returns [config-lifetime].
      cloudUrl_ = config.cloudUrl;
      decisions_ = std::make_shared<const Decisions>(
          Decisions{"Adware.Toolbar.Search", "PUA.Example.Installer"});
      log_.write(2, "Example SDK initialized for " + cloudUrl_);
      return fpcsdk::Ok;
    });
  }

  std::int32_t createFpcInstance(fpcsdk::FPCInstance** instance) override {
    return guarded([&] {
      if (instance == nullptr) return fpcsdk::InvalidParameters;
      const std::lock_guard lock(mutex_);
      if (decisions_ == nullptr) return fpcsdk::NotInitialized;
      auto made = std::make_unique<Instance>(decisions_);
      fpcsdk::FPCInstance* key = made.get();
      instances_.emplace(key, std::move(made));
      *instance = key;  // only on success [instances]
      return fpcsdk::Ok;
    });
  }

  std::int32_t destroyFpcInstance(fpcsdk::FPCInstance* instance) override {
    return guarded([&] {
      std::unique_ptr<Instance> ended;
      const std::lock_guard lock(mutex_);
      const auto found = instances_.find(instance);
      if (found == instances_.end()) return fpcsdk::InvalidParameters;
      ended = std::move(found->second);
      instances_.erase(found);
      return fpcsdk::Ok;
    });
  }

  std::int32_t setProxy(const std::string& proxy, const std::string& certificatePath) override {
    return guarded([&] {
      const std::lock_guard lock(mutex_);
      if (decisions_ == nullptr) return fpcsdk::NotInitialized;
      // Checked before anything changes: a refusal changes nothing [proxy].
      if (!wellFormedProxy(proxy)) {
        log_.write(0, "Refused the proxy: give host:port or scheme://host:port");
        return fpcsdk::InvalidParameters;
      }
      proxy_ = proxy;
      certificatePath_ = certificatePath;
      return fpcsdk::Ok;
    });
  }

  std::int32_t uninitialize() override {
    return guarded([&] {
      const std::lock_guard lock(mutex_);
      if (decisions_ == nullptr) return fpcsdk::NotInitialized;
      if (!instances_.empty()) return fpcsdk::InvalidParameters;
      decisions_.reset();
      proxy_.clear();
      certificatePath_.clear();
      return fpcsdk::Ok;
    });
  }

  std::int32_t reserved() override { return fpcsdk::Ok; }

  // This SDK keeps nothing per thread; one that does frees it here, on any
  // thread, whether or not it ever checked [thread-cleanup].
  std::int32_t threadCleanup() override { return fpcsdk::Ok; }

 private:
  Log log_;
  std::mutex mutex_;
  std::string cloudUrl_;
  std::string proxy_;
  std::string certificatePath_;
  std::shared_ptr<const Decisions> decisions_;
  std::unordered_map<fpcsdk::FPCInstance*, std::unique_ptr<Instance>> instances_;
};

}  // namespace example

// Unmangled, with exactly these types [exports].
FPCSDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc) {
  return example::guarded([&] {
    if (fpc == nullptr) return fpcsdk::InvalidParameters;
    *fpc = new example::Fpc(log);  // ended by FPCDestroy, the one owner [create]
    return fpcsdk::Ok;
  });
}

// Everything the object made ends here: no thread [threads] and nothing that
// keeps the library loaded [unload] outlives it.
FPCSDK_EXPORT void FPCDestroy(fpcsdk::FPC* fpc) { delete static_cast<example::Fpc*>(fpc); }
