#include "bench/support/bench_host.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "bench/support/opaque_host_log.h"

namespace kesp::bench {

namespace {

constexpr char kHostDataString[] = "host-data: benchmark host 1.0";

[[noreturn]] void setupFailed(const std::string& what) {
  throw std::runtime_error("benchmark setup failed: " + what);
}

// The plug-in library beside the program, loaded once for the whole run, as
// a host loads it once for its process: vfpcchecker, or the one named by
// KESP_BENCH_PLUGIN.
KESPGetPluginFunction pluginEntry() {
  const char* name = std::getenv("KESP_BENCH_PLUGIN");
  static const plx::DynamicLibrary library(plx::joinPath(
      {executableDirectory(), plx::sharedLibraryFileName(name != nullptr ? name : "vfpcchecker")}));
  static const auto entry = library.getFunction<KESPGetPluginFunction>("KESPGetPlugin");
  return entry;
}

}  // namespace

void BenchHostLog::log(std::uint32_t level, std::uint32_t, std::uint32_t, const char* text) {
  const std::lock_guard lock(mutex_);
  ++lines_;
  lastLine_ = std::to_string(level) + ": " + (text != nullptr ? text : "(null)");
}

std::uint64_t BenchHostLog::lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::string BenchHostLog::lastLine() const {
  const std::lock_guard lock(mutex_);
  return lastLine_;
}

BenchPluginInput::BenchPluginInput(kesp::HostLog* log) noexcept
    : log_(log),
      hostData_{0, kesp::PluginInputDataString, reinterpret_cast<std::uint64_t>(kHostDataString)} {}

void BenchPluginInput::getVersion(std::uint32_t* major, std::uint32_t* minor) {
  *major = 2;
  *minor = 0;
}

const kesp::PluginInputData* BenchPluginInput::getData(std::uint32_t id) {
  return id == kesp::PluginInputHostDataString ? &hostData_ : nullptr;
}

kesp::HostLog& opaqueErrorsOnlyHostLog() {
  static BenchHostLog log(0);
  return log;
}

std::string executableDirectory() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

std::string benchSdkDirectory(const char* variant) {
  return plx::joinPath({executableDirectory(), "bench-sdk", variant});
}

BenchHost::BenchHost(std::uint32_t maxLogLevel) : log(maxLogLevel) {
  plugin.reset(pluginEntry()(&input));
  if (!plugin) setupFailed("KESPGetPlugin returned null (" + log.lastLine() + ")");
}

BenchHost::~BenchHost() = default;

HostPtr<fp::CheckerV1> BenchHost::configuredChecker(const char* sdkVariant) {
  HostPtr<fp::CheckerV1> checker(plugin->getChecker());
  if (!checker) setupFailed("getChecker returned null");
  checker->getConfig()->setApiVersion(2, 0);
  if (checker->getConfig()->setBaseDirectory(benchSdkDirectory(sdkVariant).c_str()) !=
      fp::Status::Success) {
    setupFailed("setBaseDirectory refused (" + log.lastLine() + ")");
  }
  return checker;
}

HostPtr<fp::InstanceV1> BenchHost::instance(fp::CheckerV1& checker) {
  fp::InstanceV1* created = nullptr;
  if (checker.createInstance(&created) != fp::Status::Success || created == nullptr) {
    setupFailed("createInstance failed (" + log.lastLine() + ")");
  }
  return HostPtr<fp::InstanceV1>(created);
}

LoadedChecker::LoadedChecker(BenchHost& host, const char* sdkVariant)
    : checker_(host.configuredChecker(sdkVariant)) {
  if (checker_->load() != fp::Status::Success) {
    setupFailed("load failed (" + host.log.lastLine() + ")");
  }
}

LoadedChecker::~LoadedChecker() { checker_->unload(); }

bool describeDetection(fp::InputV1& input, const SampleDetection& sample) {
  using kesp::plugins::GenericData;
  const kesp::plugins::BoolPair boolPair{sample.boolKey.c_str(), sample.boolValue};
  const kesp::plugins::IntPair intPair{sample.intKey.c_str(), sample.intValue};
  const kesp::plugins::StrPair strPair{sample.strKey.c_str(), sample.strValue.c_str()};
  const GenericData data[] = {
      {fp::CustomDataHash, kesp::plugins::GenericDataString,
       reinterpret_cast<std::uint64_t>(sample.hash.c_str())},
      {fp::CustomDataBoolPair, kesp::plugins::GenericDataCustom,
       reinterpret_cast<std::uint64_t>(&boolPair)},
      {fp::CustomDataIntPair, kesp::plugins::GenericDataCustom,
       reinterpret_cast<std::uint64_t>(&intPair)},
      {fp::CustomDataStrPair, kesp::plugins::GenericDataCustom,
       reinterpret_cast<std::uint64_t>(&strPair)},
  };
  if (input.setDetectionName(sample.detectionName.c_str()) != fp::Status::Success) return false;
  for (const GenericData& item : data) {
    if (input.addCustomData(&item) != fp::Status::Success) return false;
  }
  return true;
}

void buildRecord(const SampleDetection& sample, const std::string& path, std::uint64_t size,
                 fpcsdk::DetectionInput& record) {
  record.filePath = path;
  record.fileSize = size;
  record.hash = sample.hash;
  record.detectionName = sample.detectionName;
  record.customOptions.boolOptions.emplace(sample.boolKey, sample.boolValue);
  record.customOptions.intOptions.emplace(sample.intKey, sample.intValue);
  record.customOptions.stringOptions.emplace(sample.strKey, sample.strValue);
}

DirectSdk::DirectSdk(const char* sdkVariant)
    : library_(plx::joinPath({benchSdkDirectory(sdkVariant), plx::sharedLibraryFileName("vfpcsdk")})) {
  const auto create = library_.getFunction<FPCCreateFunction>(kFpcCreateName);
  destroy_ = library_.getFunction<FPCDestroyFunction>(kFpcDestroyName);
  if (create(nullptr, &fpc_) != 0 || fpc_ == nullptr) setupFailed("FPCCreate failed");
  if (fpc_->initialize(fpcsdk::FPCConfig{}) != 0 || fpc_->createFpcInstance(&instance_) != 0 ||
      instance_ == nullptr) {
    destroy_(fpc_);
    setupFailed("the benchmark SDK refused to start");
  }
}

DirectSdk::~DirectSdk() {
  fpc_->destroyFpcInstance(instance_);
  fpc_->uninitialize();
  destroy_(fpc_);
}

SampleFile::SampleFile(std::uint64_t size) : size_(size) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kesp-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) setupFailed("mkdtemp failed");
  directory_ = pattern;
  path_ = directory_ + "/sample-detection.bin";
  const int descriptor = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) setupFailed("cannot create " + path_);
  const std::vector<char> bytes(static_cast<std::size_t>(size), 'b');
  const bool written =
      ::write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  ::close(descriptor);
  if (!written) setupFailed("cannot write " + path_);
}

SampleFile::~SampleFile() {
  std::error_code ignored;
  std::filesystem::remove_all(directory_, ignored);
}

}  // namespace kesp::bench
