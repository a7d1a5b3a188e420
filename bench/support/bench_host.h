// The host side of the benchmarks: loads the built plug-in library by path
// and drives it only through the host interfaces, as a scanning host does;
// and the "floor" side, which reaches the same benchmark SDK directly.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "foundation/dynamic_library.h"
#include "kesp/kesp.h"
#include "fpcsdk/fpcsdk.h"

namespace kesp::bench {

namespace fp = kesp::plugins::fpchecker;

// The host log of the benchmarks. It wants the levels up to maxLevel and
// counts what arrives; isEnabled writes nothing, so two threads that ask it
// do not contend for a cache line.
class BenchHostLog final : public kesp::HostLog {
 public:
  explicit BenchHostLog(std::uint32_t maxLevel) noexcept : maxLevel_(maxLevel) {}

  bool isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) override {
    return level <= maxLevel_;
  }
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;

  std::uint64_t lines() const;
  // The last line that arrived, for an error report; empty when none did.
  std::string lastLine() const;

 private:
  const std::uint32_t maxLevel_;
  mutable std::mutex mutex_;
  std::uint64_t lines_ = 0;
  std::string lastLine_;
};

// The plug-in input: the log and the host data string.
class BenchPluginInput final : public kesp::PluginInput {
 public:
  explicit BenchPluginInput(kesp::HostLog* log) noexcept;
  kesp::HostLog* getLog() override { return log_; }
  void getVersion(std::uint32_t* major, std::uint32_t* minor) override;
  const kesp::PluginInputData* getData(std::uint32_t id) override;

 private:
  kesp::HostLog* log_;
  kesp::PluginInputData hostData_;
};

struct Releaser {
  void operator()(kesp::ReleasableObjectV1* object) const noexcept { object->release(); }
};
template <class T>
using HostPtr = std::unique_ptr<T, Releaser>;

// The directory of the running program; the plug-in library lies there.
std::string executableDirectory();
// The base directory of a benchmark SDK: "instant" (checkDetection returns
// at once) or "work" (about a microsecond of arithmetic per check).
std::string benchSdkDirectory(const char* variant);

// One plug-in object with its log; setup failures throw std::runtime_error.
class BenchHost {
 public:
  // maxLogLevel: the highest log level the host wants (0: errors only).
  explicit BenchHost(std::uint32_t maxLogLevel = 0);
  ~BenchHost();

  // A checker configured with API 2.0 and the SDK's base directory, not loaded.
  HostPtr<fp::CheckerV1> configuredChecker(const char* sdkVariant);
  HostPtr<fp::InstanceV1> instance(fp::CheckerV1& checker);

  // In this order: the plug-in object goes first, the log it writes to last.
  BenchHostLog log;
  BenchPluginInput input{&log};
  HostPtr<kesp::plugins::PluginV1> plugin;
};

// A loaded checker, unloaded before it is released. Instances made from it
// must be released first.
class LoadedChecker {
 public:
  LoadedChecker(BenchHost& host, const char* sdkVariant);
  ~LoadedChecker();
  LoadedChecker(const LoadedChecker&) = delete;
  LoadedChecker& operator=(const LoadedChecker&) = delete;

  fp::CheckerV1& checker() noexcept { return *checker_; }

 private:
  HostPtr<fp::CheckerV1> checker_;
};

// The detection every check benchmark sends: a 40-character detection name,
// a 64-character hash, and one bool, one integer and one string pair. Held
// as strings, the way any implementation keeps what the host handed it.
struct SampleDetection {
  std::string detectionName = "HEUR:Trojan.Win32.Generic.Bench.a1b2c3d4";
  std::string hash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
  std::string boolKey = "cloud.lookup";
  bool boolValue = true;
  std::string intKey = "scan.depth";
  std::int64_t intValue = 3;
  std::string strKey = "engine.channel";
  std::string strValue = "release";
};

// Sets the detection name and the custom data of sample on input; false
// when the plug-in refuses any of it.
bool describeDetection(fp::InputV1& input, const SampleDetection& sample);

// The least a check has to build: the SDK's record from the same values.
void buildRecord(const SampleDetection& sample, const std::string& path, std::uint64_t size,
                 fpcsdk::DetectionInput& record);

// The benchmark SDK loaded by the benchmark itself, with one SDK object and
// one SDK instance: what the plug-in stands between.
class DirectSdk {
 public:
  explicit DirectSdk(const char* sdkVariant);
  ~DirectSdk();
  DirectSdk(const DirectSdk&) = delete;
  DirectSdk& operator=(const DirectSdk&) = delete;

  fpcsdk::FPCInstance& instance() noexcept { return *instance_; }

 private:
  plx::DynamicLibrary library_;
  FPCDestroyFunction destroy_ = nullptr;
  fpcsdk::FPC* fpc_ = nullptr;
  fpcsdk::FPCInstance* instance_ = nullptr;
};

// The output object a check has to hand out, at its least.
struct DirectOutput {
  bool isFalsePositive = false;
};

// A directory of its own under the system's temporary directory holding one
// small file; removed with it on destruction.
class SampleFile {
 public:
  // A file of size bytes.
  explicit SampleFile(std::uint64_t size);
  ~SampleFile();
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;

  const std::string& path() const noexcept { return path_; }
  std::uint64_t size() const noexcept { return size_; }

 private:
  std::string directory_;
  std::string path_;
  std::uint64_t size_;
};

}  // namespace kesp::bench
