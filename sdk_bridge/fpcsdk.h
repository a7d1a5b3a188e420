// The interface of the checker SDK library, loaded at run time from the
// configured base directory. Objects cross as tables of virtual operations;
// strings and maps as the standard library's types, so the SDK must be built
// with the same standard library as the plug-in. Every operation that
// returns a code returns 0 on success (the codes are listed in sdk_error.h).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace fpcsdk {

// [plug imp] Where the SDK writes its log lines. Outlives the FPC object; may
// be called from any SDK thread.
class LogInterface {
 public:
  // Slot 0. Whether lines of this SDK level are wanted.
  virtual bool filter(std::int32_t level) = 0;
  // Slot 1. One line; context is not read.
  virtual void log(std::int32_t level, std::int32_t context, const std::string& message) = 0;
  virtual ~LogInterface() = default;
};

// The settings handed to FPC::initialize; valid during the call only.
struct FPCConfig {
  std::string cloudUrl;
  std::string sdkText1;
  std::string hostDataString;
  std::string pluginVersionText;  // "2.1.0.29"
  std::string sdkText7;
  std::string sdkText4;
  std::uint64_t connectionTimeout = 0;
  std::uint64_t dataTimeout = 0;
  std::uint32_t connectionRetries = 0;
};

struct CustomOptions {
  std::unordered_map<std::string, bool> boolOptions;
  std::unordered_map<std::string, std::int64_t> intOptions;
  std::unordered_map<std::string, std::string> stringOptions;
};

// One detection to check; valid during the call only. Holds copies only.
struct DetectionInput {
  std::string filePath;        // may be empty for a memory buffer
  std::uint64_t fileSize = 0;  // of the file, or of the memory buffer
  std::string hash;
  std::string detectionName;   // never empty
  CustomOptions customOptions;
  std::string extraData;
};

// [sdk imp] One checking context; used by one thread at a time.
class FPCInstance {
 public:
  // Slot 0. On 0, *isFalsePositive holds the verdict (false beforehand).
  virtual std::int32_t checkDetection(const DetectionInput& input, bool* isFalsePositive) = 0;

 protected:
  ~FPCInstance() = default;
};

// [sdk imp] The SDK object, from FPCCreate to FPCDestroy. createFpcInstance,
// destroyFpcInstance and the checks of different instances may run on
// several threads at once.
class FPC {
 public:
  // Slot 0.
  virtual std::int32_t initialize(const FPCConfig& config) = 0;
  // Slot 1. On 0, *instance is a new instance, ended by destroyFpcInstance.
  virtual std::int32_t createFpcInstance(FPCInstance** instance) = 0;
  // Slot 2.
  virtual std::int32_t destroyFpcInstance(FPCInstance* instance) = 0;
  // Slot 3. Either text may be empty.
  virtual std::int32_t setProxy(const std::string& proxy, const std::string& certificatePath) = 0;
  // Slot 4. Only after 0 may the object be destroyed.
  virtual std::int32_t uninitialize() = 0;
  // Slot 5. Never called by the plug-in.
  virtual std::int32_t reserved() = 0;
  // Slot 6. Frees the calling thread's SDK data; the result is not read.
  virtual std::int32_t threadCleanup() = 0;

 protected:
  ~FPC() = default;
};

}  // namespace fpcsdk

// The library's exports.
extern "C" {
using FPCCreateFunction = std::int32_t (*)(fpcsdk::LogInterface* log, fpcsdk::FPC** fpc);
using FPCDestroyFunction = void (*)(fpcsdk::FPC* fpc);
}

// The export names.
inline constexpr const char kFpcCreateName[] = "FPCCreate";
inline constexpr const char kFpcDestroyName[] = "FPCDestroy";
