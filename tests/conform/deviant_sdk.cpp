// A checker SDK that keeps every rule of the interface but one: each
// DEVIANT_* define breaks one, as SDKs were seen to break them. Built once per
// define (CMakeLists.txt); without one it is a correct SDK. Its verdict: a
// detection is a false positive when its name begins with "Adware.".
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>

#include "fpcsdk/codes.h"
#include "fpcsdk/fpcsdk.h"

#if defined(_WIN32)
#include <windows.h>
#if defined(DEVIANT_MSVC_RUNTIME)
// From MSVC's C++ standard library; an import library of its own names it.
extern "C" long long _Query_perf_frequency();
#endif
#else
#include <dlfcn.h>
#endif

namespace {

fpcsdk::LogInterface* savedLog = nullptr;
std::string lastCreated;

#if defined(DEVIANT_LOGS_AFTER_DESTROY)
// Work deferred to the library's unload, after FPCDestroy has returned.
struct Telemetry {
  ~Telemetry() {
    if (savedLog != nullptr) savedLog->log(2, 0, "telemetry flushed");
  }
} telemetry;
#endif

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

// What the SDK keeps per checking thread. Trivially destroyed: a
// thread_local with a destructor would keep a Linux library loaded.
struct PerThread {
  int checks = 0;
};
thread_local PerThread* perThread = nullptr;

class Instance final : public fpcsdk::FPCInstance {
 public:
  explicit Instance(const std::atomic<bool>& usable) : usable_(usable) {}
  std::int32_t checkDetection(const fpcsdk::DetectionInput& input, bool* verdict) override {
    if (perThread == nullptr) perThread = new PerThread();
    ++perThread->checks;
#if defined(DEVIANT_THROWS)
    if (input.hash.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      throw std::invalid_argument("the hash is not hexadecimal");
    }
#endif
    if (!usable_) return fpcsdk::ConnectionError;
    bool falsePositive = input.detectionName.rfind("Adware.", 0) == 0;
#if defined(DEVIANT_STALE_CACHE)
    // Counts what it answered, and answers the wrong way round from the
    // sixth time on.
    if (++answered_[input.detectionName] > 5) falsePositive = !falsePositive;
#endif
#if defined(DEVIANT_VERDICT_UNWRITTEN)
    if (falsePositive) *verdict = true;
#else
    *verdict = falsePositive;
#endif
    return fpcsdk::Ok;
  }

 private:
  const std::atomic<bool>& usable_;
  std::map<std::string, int> answered_;
};

class Fpc final : public fpcsdk::FPC {
 public:
  std::int32_t initialize(const fpcsdk::FPCConfig& config) override {
    const std::lock_guard lock(mutex_);
#if !defined(DEVIANT_INITIALIZE_TWICE)
    if (initialized_) return fpcsdk::AlreadyInitialized;
#endif
#if defined(DEVIANT_KEEPS_CONFIG)
    config_ = &config;
#endif
#if defined(DEVIANT_LATIN1_LOG)
    if (savedLog != nullptr) savedLog->log(2, 0, "Fichier trait\xE9 : rules loaded");
#endif
#if defined(DEVIANT_WRITES_OUTPUT)
    std::printf("initialized\n");
    std::fflush(stdout);
#endif
    state_ = std::make_unique<std::string>(config.cloudUrl);
    initialized_ = true;
    return fpcsdk::Ok;
  }
  std::int32_t createFpcInstance(fpcsdk::FPCInstance** instance) override {
    return guarded([&] {
      const std::lock_guard lock(mutex_);
#if defined(DEVIANT_INSTANCE_POOL)
      // A pool of eight, which answers "yes" but nothing when it is empty.
      if (live_ == 8) return fpcsdk::Ok;
#endif
      *instance = new Instance(usable_);
      ++live_;
      return fpcsdk::Ok;
    });
  }
  std::int32_t destroyFpcInstance(fpcsdk::FPCInstance* instance) override {
    const std::lock_guard lock(mutex_);
    delete static_cast<Instance*>(instance);
    --live_;
    return fpcsdk::Ok;
  }
  std::int32_t setProxy(const std::string& proxy, const std::string&) override {
#if defined(DEVIANT_KEEPS_CONFIG)
    // Rebuilds its endpoint from the settings it was given.
    if (config_ != nullptr) *state_ = config_->cloudUrl.c_str();
#endif
    if (proxy.find(' ') == std::string::npos) return fpcsdk::Ok;
#if defined(DEVIANT_PROXY_RESETS)
    if (initialized_) usable_ = false;  // drops its connection before it looks at the proxy
#endif
#if defined(DEVIANT_CODE_OUT_OF_RANGE)
    return 13;
#else
    return fpcsdk::InvalidParameters;
#endif
  }
  std::int32_t uninitialize() override {
#if defined(DEVIANT_SLOW_UNINITIALIZE)
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
#endif
    const std::lock_guard lock(mutex_);
    initialized_ = false;
    return fpcsdk::Ok;
  }
  std::int32_t reserved() override { return fpcsdk::Ok; }
  std::int32_t threadCleanup() override {
#if defined(DEVIANT_THREAD_CLEANUP_CRASH)
    static_cast<volatile PerThread*>(perThread)->checks = 0;  // as if every thread had checked
#endif
    delete perThread;
    perThread = nullptr;
    return fpcsdk::Ok;
  }
  ~Fpc() {
#if defined(DEVIANT_DESTROY_NEEDS_INITIALIZE)
    state_->clear();  // as if it had always been initialized
#endif
  }

 private:
  std::mutex mutex_;
  bool initialized_ = false;
  int live_ = 0;
  std::atomic<bool> usable_{true};
  std::unique_ptr<std::string> state_;
  const fpcsdk::FPCConfig* config_ = nullptr;
};

void deviateAtCreate() {
#if defined(DEVIANT_LEAVES_THREAD)
  // A keep-alive thread that nobody ends; it sleeps in the system meanwhile.
  // FPCCreate returns only once it has started: a thread the scheduler had
  // not yet run when the library was freed would start in unmapped code and
  // crash the unload clause, which this deviation is not about.
  std::promise<void> started;
  std::future<void> running = started.get_future();
  std::thread([started = std::move(started)]() mutable {
    started.set_value();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }).detach();
  running.wait();
#endif
#if defined(DEVIANT_PINS_ITSELF)
#if defined(_WIN32)
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&savedLog), &self);
#else
  Dl_info info{};
  if (::dladdr(&savedLog, &info) != 0) ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
#endif
#if defined(DEVIANT_GNU_UNIQUE)
  // Brings in a GNU-unique symbol of the standard library's.
  lastCreated = std::to_string(reinterpret_cast<std::uintptr_t>(savedLog));
#endif
#if defined(DEVIANT_MSVC_RUNTIME)
  static_cast<void>(_Query_perf_frequency());
#endif
}

}  // namespace

FPCSDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc) {
  savedLog = log;
  deviateAtCreate();
  *fpc = new Fpc();
  return fpcsdk::Ok;
}

#if defined(DEVIANT_MISSING_EXPORT) && defined(_WIN32)
// Declared without extern "C": exported under its C++ name only.
__declspec(dllexport) void FPCDestroy(fpcsdk::FPC* fpc) {
#elif defined(DEVIANT_MISSING_EXPORT)
__attribute__((visibility("default"))) void FPCDestroy(fpcsdk::FPC* fpc) {
#else
FPCSDK_EXPORT void FPCDestroy(fpcsdk::FPC* fpc) {
#endif
  delete static_cast<Fpc*>(fpc);
}
