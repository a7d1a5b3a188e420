// Loads the checker SDK library, creates and configures its SDK object, and
// shuts both down again.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "foundation/logger.h"
#include "kesp/plugin.h"
#include "kesp/status.h"
#include "foundation/generic_data_entry.h"
#include "fpcsdk/fpcsdk.h"
#include "sdk_bridge/sdk_logger.h"

namespace kesp::plugins::fpchecker {

class VfpcSdkInstance;

// The cloud endpoint and numbers the SDK gets when options 0, 5, 6 and 8
// are absent (the URL also when option 0 is empty): the interface's own.
inline constexpr const char* kDefaultCloudUrl = fpcsdk::kDefaultCloudUrl;
inline constexpr std::uint64_t kDefaultConnectionTimeout = fpcsdk::kDefaultConnectionTimeout;
inline constexpr std::uint64_t kDefaultDataTimeout = fpcsdk::kDefaultDataTimeout;
inline constexpr std::uint64_t kDefaultConnectionRetries = fpcsdk::kDefaultConnectionRetries;
inline constexpr std::uint64_t kMaxTimeout = 9223372036854775807ull;  // 2^63-1
inline constexpr std::uint64_t kMaxConnectionRetries = 4294967295ull;
// The SDK library's base name: vfpcsdk.dll on Windows, libvfpcsdk.so elsewhere.
inline constexpr const char* kSdkLibraryName = fpcsdk::kLibraryName;

struct SdkLoadParameters {
  std::string baseDirectory;
  std::string hostDataString;
  PluginVersion pluginVersion{};
  // The configuration's option list itself, not a copy.
  const std::vector<GenericDataEntry>* configOptions = nullptr;
};

// One loaded copy of the SDK library with its two exports resolved.
class VfpcSdkLibrary {
 public:
  // Throws the library exceptions of plx::DynamicLibrary; a missing export
  // frees the library again before the exception leaves.
  explicit VfpcSdkLibrary(const std::string& path);

  // The library stays mapped after this object is gone.
  void keepLoaded() noexcept { module_.keepLoaded(); }
  // The loaded file's full path and version, for the line that names it.
  plx::LibraryFile file() const { return module_.file(); }

  FPCCreateFunction fpcCreate() const noexcept { return fpcCreate_; }
  FPCDestroyFunction fpcDestroy() const noexcept { return fpcDestroy_; }

 private:
  plx::DynamicLibrary module_;
  FPCCreateFunction fpcCreate_;
  FPCDestroyFunction fpcDestroy_;
};

// Empty (nothing loaded) or loaded (library and SDK object). Takes no lock:
// load, unload, setOnTheFlyProxy and runThreadCleanup must not overlap.
class VfpcSdkLoader {
 public:
  explicit VfpcSdkLoader(const plx::Logger& logger);
  // A loader still loaded shuts the SDK down in unload order first.
  ~VfpcSdkLoader();
  VfpcSdkLoader(const VfpcSdkLoader&) = delete;
  VfpcSdkLoader& operator=(const VfpcSdkLoader&) = delete;

  // Loads, creates, initialises and sets the proxy; any failure undoes what
  // was done (FPCDestroy, then the library) and is logged once. Throws
  // kesp::InternalException for an SDK code it does not know, after undoing.
  Status load(const SdkLoadParameters& parameters);
  // uninitialize, FPCDestroy, free the library. A refusal by the SDK leaves
  // everything loaded and may be retried. An exception from FPCDestroy
  // leaves, as a plug-in exception, with the loader empty all the same. Log
  // lines the SDK writes after FPCDestroy are dropped, and their number
  // reported in one information line.
  Status unload();
  // Hands over the proxy and certificate path that the last successful load
  // sent to the SDK, and forgets them.
  void takeLoadedProxy(std::string& proxy, std::string& certificatePath) noexcept;
  Status setOnTheFlyProxy(const std::string& proxy, const std::string& certificatePath);
  void runThreadCleanup();
  // A new SDK instance over the loaded SDK object, owned by the caller.
  std::unique_ptr<VfpcSdkInstance> createSdkInstance();

  bool loaded() const noexcept { return library_ != nullptr; }

 private:
  void logLoadedLibrary() const;
  Status createConfiguredSdk(const SdkLoadParameters& parameters);
  // FPCDestroy, then the SDK's log interface is closed, however FPCDestroy
  // ends.
  void destroySdkObject();
  // Frees the library, then the SDK's log interface unless the library is
  // still mapped, and reports the lines it dropped.
  void releaseLibrary() noexcept;
  void reportDroppedLines(std::uint64_t dropped) const noexcept;
  void shutDownOnRelease() noexcept;
  void keepSdkAlive() noexcept;

  const plx::Logger* logger_;
  plx::LogChannel log_;
  std::unique_ptr<VfpcSdkLibrary> library_;
  // The log interface of the current SDK object, made at each load. It
  // outlives the object and is freed with the library, or abandoned rather
  // than freed while the library may still run code.
  std::unique_ptr<VfpcSdkLogger> sdkLogger_;
  // The last interface abandoned at an unload, and the drops reported then.
  const VfpcSdkLogger* retiredLogger_ = nullptr;
  std::uint64_t retiredLoggerReported_ = 0;
  fpcsdk::FPC* fpc_ = nullptr;
  std::string loadedProxy_;
  std::string loadedCertificatePath_;
};

// Builds the SDK settings from the load parameters and the options (the last
// entry of an id wins). Returns Error after logging when a number is out of
// range.
Status buildFpcConfig(const SdkLoadParameters& parameters, const plx::LogChannel& log,
                      fpcsdk::FPCConfig& config);

}  // namespace kesp::plugins::fpchecker
