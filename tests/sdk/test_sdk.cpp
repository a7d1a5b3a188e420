// A checker SDK whose every answer is scripted by the test program that
// loaded the plug-in, and which reports every call it receives.
#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "fpcsdk/fpcsdk.h"
#include "tests/sdk/test_sdk_control.h"

#if defined(_WIN32)
#include <windows.h>
#define TEST_SDK_EXPORT extern "C" __declspec(dllexport)
#else
#include <dlfcn.h>
#define TEST_SDK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using kesp::test::SdkOp;
using kesp::test::TestSdkControl;

// Used when no test program scripts the SDK: everything succeeds.
class SilentControl final : public TestSdkControl {
 public:
  std::int32_t resultOf(SdkOp) override { return 0; }
  std::optional<bool> verdict() override { return false; }
  const char* lineAtUnload() override { return nullptr; }
  void onEvent(const char*) override {}
  void onCreate(fpcsdk::LogInterface*) override {}
  void onInitialize(const fpcsdk::FPCConfig&) override {}
  void onSetProxy(const std::string&, const std::string&) override {}
  void onCheck(const fpcsdk::DetectionInput&) override {}
};

TestSdkControl* findControl() {
  static SilentControl silent;
#if defined(_WIN32)
  // Through void*: FARPROC's own type does not match any real signature.
  auto function = reinterpret_cast<kesp::test::TestSdkControlFunction>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(nullptr), kesp::test::kTestSdkControlExport)));
#else
  auto function = reinterpret_cast<kesp::test::TestSdkControlFunction>(
      ::dlsym(RTLD_DEFAULT, kesp::test::kTestSdkControlExport));
#endif
  return function != nullptr ? function() : &silent;
}

TestSdkControl& control() {
  static TestSdkControl* const found = findControl();
  return *found;
}

// The scripted result of op; throws when the test asks for that.
std::int32_t answer(SdkOp op) {
  const std::int32_t code = control().resultOf(op);
  if (code == kesp::test::kThrowStandardException) throw std::runtime_error("test SDK failure");
  if (code == kesp::test::kThrowUnknownException) throw 42;
  return code;
}

// The log interface of the last FPCCreate. A real SDK keeps it for as long as
// its object lives and may call it at any time, even after the plug-in has
// given the object up.
std::atomic<fpcsdk::LogInterface*> savedLog{nullptr};

#if defined(TEST_SDK_PINS_ITSELF)
// A library that keeps itself loaded for the life of the process, as a Linux
// library with GNU-unique symbols is kept: whatever the plug-in frees, its
// code stays and may still call the log interface. It reports no load or
// unload: at the process's exit the test program's control is gone.
void pinThisLibrary() {
#if defined(_WIN32)
  HMODULE self = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&savedLog), &self);
#else
  Dl_info info{};
  if (::dladdr(&savedLog, &info) != 0) {
    static_cast<void>(::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
  }
#endif
}
#else
// Reports the library's own load and unload, so that a test sees the library
// freed after FPCDestroy, and writes the scripted line at unload.
struct LibraryLifetime {
  LibraryLifetime() { control().onEvent("load"); }
  ~LibraryLifetime() {
    control().onEvent("unload");
    fpcsdk::LogInterface* log = savedLog.load();
    if (const char* line = control().lineAtUnload(); line != nullptr && log != nullptr) {
      log->log(2, 0, line);
    }
  }
} lifetime;
#endif

class TestInstance final : public fpcsdk::FPCInstance {
 public:
  std::int32_t checkDetection(const fpcsdk::DetectionInput& input, bool* isFalsePositive) override {
    control().onEvent("checkDetection");
    control().onCheck(input);
    const std::int32_t code = answer(SdkOp::CheckDetection);
    if (code == 0) {
      if (const std::optional<bool> verdict = control().verdict()) *isFalsePositive = *verdict;
    }
    return code;
  }
};

class TestFpc final : public fpcsdk::FPC {
 public:
  std::int32_t initialize(const fpcsdk::FPCConfig& config) override {
    control().onEvent("initialize");
    control().onInitialize(config);
    return answer(SdkOp::Initialize);
  }
  std::int32_t createFpcInstance(fpcsdk::FPCInstance** instance) override {
    control().onEvent("createFpcInstance");
    const std::int32_t code = answer(SdkOp::CreateInstance);
    if (code == kesp::test::kSucceedWithoutObject) return 0;
    if (code == 0) {
      *instance = new TestInstance();
      live_.fetch_add(1);
    }
    return code;
  }
  std::int32_t destroyFpcInstance(fpcsdk::FPCInstance* instance) override {
    control().onEvent("destroyFpcInstance");
    // The instance goes whatever the scripted code says, so that a test of
    // a refused destruction still leaks nothing.
    delete static_cast<TestInstance*>(instance);
    live_.fetch_sub(1);
    return answer(SdkOp::DestroyInstance);
  }
  std::int32_t setProxy(const std::string& proxy, const std::string& certificatePath) override {
    control().onEvent("setProxy");
    control().onSetProxy(proxy, certificatePath);
    return answer(SdkOp::SetProxy);
  }
  std::int32_t uninitialize() override {
    control().onEvent(live_.load() == 0 ? "uninitialize" : "uninitialize with live instances");
    return answer(SdkOp::Uninitialize);
  }
  std::int32_t reserved() override {
    control().onEvent("reserved");
    return 0;
  }
  std::int32_t threadCleanup() override {
    control().onEvent("threadCleanup");
    return 0;
  }

 private:
  std::atomic<int> live_{0};
};

// The SDK object alive now, if any. A plug-in that must leave it alive (the
// SDK refused to shut down) leaves it reachable here, not leaked.
std::atomic<TestFpc*> liveFpc{nullptr};

}  // namespace

TEST_SDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc) {
  control().onEvent("FPCCreate");
  control().onCreate(log);
  savedLog.store(log);
#if defined(TEST_SDK_PINS_ITSELF)
  pinThisLibrary();
#endif
  const std::int32_t code = answer(SdkOp::Create);
  if (code == kesp::test::kSucceedWithoutObject) return 0;
  if (code == 0) {
    *fpc = new TestFpc();
    liveFpc.store(static_cast<TestFpc*>(*fpc));
  }
  return code;
}

#if !defined(TEST_SDK_WITHOUT_DESTROY)
TEST_SDK_EXPORT void FPCDestroy(fpcsdk::FPC* fpc) {
  control().onEvent("FPCDestroy");
  liveFpc.store(nullptr);
  delete static_cast<TestFpc*>(fpc);
  // Only the two throwing results mean anything here: the object is gone.
  static_cast<void>(answer(SdkOp::Destroy));
}
#endif

// Writes one line through the saved log interface as the SDK would, filter
// then log; log is called whatever filter says, so that a test sees a
// silenced interface drop the line. Returns what filter answered.
TEST_SDK_EXPORT bool kespTestSdkWriteLog(std::int32_t level, const char* message) {
  fpcsdk::LogInterface* log = savedLog.load();
  if (log == nullptr) return false;
  const bool wanted = log->filter(level);
  log->log(level, 0, message);
  return wanted;
}
