// The checker SDK interface: what a checker SDK library (libvfpcsdk.so,
// vfpcsdk.dll) implements and the FP checker plug-in calls. The plug-in loads
// the library at run time from the base directory the host configures,
// resolves the two exports at the end of this file, and talks to the objects
// below through their tables of virtual operations, in exactly the slot order
// given here.
//
// Strings cross as std::string and maps as std::unordered_map, so the SDK must
// be built with the plug-in's compiler family and C++ standard library: GCC
// and libstdc++ (mingw-w64 on Windows). SDK.md, the SDK builder's guide, gives every rule of this
// interface with the fpcsdk-conform clause that checks it; the clause ids
// are named below in [brackets].
//
// Self-contained: this header needs the C++ standard library only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace fpcsdk {

// The library's base name: libvfpcsdk.so on Linux, vfpcsdk.dll on Windows,
// in the base directory the host configures.
constexpr char kLibraryName[] = "vfpcsdk";

// [plug imp] Where the SDK writes its log lines: the host's log, behind the
// prefix "[fpcsdk] ". Handed to FPCCreate, or null when the host keeps no
// log; valid from FPCCreate until FPCDestroy returns, and callable from any
// thread of the SDK in that time. A call after FPCDestroy has returned is
// dropped and counted by the plug-in, but an SDK must not make one
// [log-after-destroy].
class LogInterface {
 public:
  // Slot 0. Whether the host wants lines of this level (0 error, 1 warning,
  // 2 information, 3 debug); ask before building an expensive line.
  virtual bool filter(std::int32_t level) = 0;
  // Slot 1. One line, valid UTF-8 without NUL bytes, at a level from 0 to 3
  // [log-text]; context is not read. The text is copied before the call
  // returns.
  virtual void log(std::int32_t level, std::int32_t context, const std::string& message) = 0;
  virtual ~LogInterface() = default;
};

// The settings handed to FPC::initialize. /*in*/, valid during that call only:
// copy what you keep, never a pointer or reference into it [config-lifetime].
struct FPCConfig {
  std::string cloudUrl;           // the host's, or kDefaultCloudUrl
  std::string sdkText1;           // e.g. an API key; may be empty
  std::string hostDataString;     // the host's own text
  std::string pluginVersionText;  // "2.1.0.29"
  std::string sdkText7;           // may be empty
  std::string sdkText4;           // may be empty
  std::uint64_t connectionTimeout = 0;  // in the SDK's units (milliseconds)
  std::uint64_t dataTimeout = 0;        // in the SDK's units (milliseconds)
  std::uint32_t connectionRetries = 0;
};

// What FPCConfig holds when the host sets none of these.
constexpr char kDefaultCloudUrl[] = "https://fpc.cloud.velnor.example/api/v2/check";
constexpr std::uint64_t kDefaultConnectionTimeout = 5000;
constexpr std::uint64_t kDefaultDataTimeout = 5000;
constexpr std::uint32_t kDefaultConnectionRetries = 5;

struct CustomOptions {
  std::unordered_map<std::string, bool> boolOptions;
  std::unordered_map<std::string, std::int64_t> intOptions;
  std::unordered_map<std::string, std::string> stringOptions;
};

// One detection to check. /*in*/, valid during checkDetection only; holds
// copies only.
struct DetectionInput {
  std::string filePath;        // empty for a memory buffer
  std::uint64_t fileSize = 0;  // of the file, or of the memory buffer
  std::string hash;            // the host's text, unchecked; may be empty
  std::string detectionName;   // never empty
  CustomOptions customOptions;
  std::string extraData;
};

// [sdk imp] One checking context, made by FPC::createFpcInstance and ended by
// FPC::destroyFpcInstance. Used by one thread at a time, but different
// instances check on different threads at once: what instances share must be
// guarded [known-answers].
class FPCInstance {
 public:
  // Slot 0. Returns a code of codes.h. On 0, *isFalsePositive /*out*/ holds the
  // verdict: true when the detection is a false positive. A check that
  // returns 0 must write it [verdict-written]; the plug-in passes false, so
  // an unwritten verdict leaves the detection standing. Returns within the
  // time the settings allow [time]; throws nothing [no-throw].
  virtual std::int32_t checkDetection(const DetectionInput& input, bool* isFalsePositive) = 0;

 protected:
  ~FPCInstance() = default;
};

// [sdk imp] The SDK object, from FPCCreate to FPCDestroy. Every operation
// returns a code of codes.h [codes] and throws nothing [no-throw].
// createFpcInstance, destroyFpcInstance and the checks of different
// instances may run on several threads at once.
class FPC {
 public:
  // Slot 0. Takes the settings: 0, or the code of the refusal. A second
  // initialize without uninitialize gives 3 (already initialized)
  // [initialize].
  virtual std::int32_t initialize(const FPCConfig& config) = 0;
  // Slot 1. On 0, *instance /*out*/ is a new instance, the caller's until it
  // hands it to destroyFpcInstance; on any other code no instance exists and
  // *instance is left alone [instances].
  virtual std::int32_t createFpcInstance(FPCInstance** instance) = 0;
  // Slot 2. Ends an instance this object made.
  virtual std::int32_t destroyFpcInstance(FPCInstance* instance) = 0;
  // Slot 3. The proxy and the certificate path (either may be empty), after
  // initialize and again whenever the host changes them, while instances
  // check on other threads. A refusal (non-zero) changes nothing [proxy].
  virtual std::int32_t setProxy(const std::string& proxy, const std::string& certificatePath) = 0;
  // Slot 4. Undoes initialize; only after 0 is the object ended with
  // FPCDestroy, and it may be initialized again instead [initialize].
  virtual std::int32_t uninitialize() = 0;
  // Slot 5. Never called by the plug-in.
  virtual std::int32_t reserved() = 0;
  // Slot 6. Frees what the SDK keeps for the calling thread; the host calls
  // it on a thread before that thread ends, and may call it on a thread that
  // never checked [thread-cleanup]. The result is not read.
  virtual std::int32_t threadCleanup() = 0;

 protected:
  ~FPC() = default;
};

}  // namespace fpcsdk

// The library's exports, unmangled [exports].
//
// FPCCreate: log /*in*/ may be null; on 0, *fpc /*out*/ is a new object,
// never initialized yet [create].
// FPCDestroy: ends an object from FPCCreate, initialized or not; when it
// returns, nothing of the SDK runs any more: no thread of its own
// [threads], no call of the LogInterface [log-after-destroy], and the
// library can be unloaded [unload].
extern "C" {
using FPCCreateFunction = std::int32_t (*)(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc);
using FPCDestroyFunction = void (*)(fpcsdk::FPC* fpc);
}
constexpr char kFpcCreateName[] = "FPCCreate";
constexpr char kFpcDestroyName[] = "FPCDestroy";

// For an SDK's own definitions of the two exports:
//   FPCSDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface*, fpcsdk::FPC**);
//   FPCSDK_EXPORT void FPCDestroy(fpcsdk::FPC*);
#if defined(_WIN32)
#define FPCSDK_EXPORT extern "C" __declspec(dllexport)
#else
#define FPCSDK_EXPORT extern "C" __attribute__((visibility("default")))
#endif
