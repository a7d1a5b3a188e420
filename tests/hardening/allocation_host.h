// The host side of the allocation-failure tests: a log, a plug-in input, a
// script for the test SDK and a file-operations factory. Every callback the
// plug-in makes into them runs paused, since the host's own memory is not
// the plug-in's to run out of.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kesp/kesp.h"
#include "fpcsdk/fpcsdk.h"
#include "tests/sdk/test_sdk_control.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {

// Every text the host hands over is longer than a string keeps without
// allocating, so that each copy the plug-in makes is an allocation that can
// fail.
inline constexpr char kAllocationHostData[] = "host-data: scanner 11.2";

// Keeps the error lines (level 0) only.
class AllocationHostLog final : public kesp::HostLog {
 public:
  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;
  // The error lines since the last call.
  std::vector<std::string> take();

 private:
  std::vector<std::string> errors_;
};

class AllocationHostInput final : public kesp::PluginInput {
 public:
  explicit AllocationHostInput(kesp::HostLog* log) : log_(log) {}
  kesp::HostLog* getLog() override { return log_; }
  void getVersion(std::uint32_t*, std::uint32_t*) override {}
  const kesp::PluginInputData* getData(std::uint32_t id) override;

 private:
  kesp::HostLog* log_;
};

// The test SDK's script in these programs: every operation succeeds, with
// the verdict "false positive"; what the SDK receives is recorded.
class AllocationSdk final : public TestSdkControl {
 public:
  std::int32_t resultOf(SdkOp) override { return 0; }
  std::optional<bool> verdict() override { return true; }
  const char* lineAtUnload() override { return nullptr; }
  void onEvent(const char* event) override;
  void onCreate(fpcsdk::LogInterface*) override {}
  void onInitialize(const fpcsdk::FPCConfig& config) override;
  void onSetProxy(const std::string& proxy, const std::string& certificatePath) override;
  void onCheck(const fpcsdk::DetectionInput& input) override;

  void clear();

  std::vector<std::string> events;
  std::vector<fpcsdk::FPCConfig> configs;
  std::vector<std::pair<std::string, std::string>> proxies;
  std::vector<fpcsdk::DetectionInput> detections;
};

// The one script of the program, found by the test SDK among its exports.
AllocationSdk& allocationSdk();

// KESPGetPlugin of the plug-in build these tests load, loaded once.
KESPGetPluginFunction allocationPluginEntry();

// The test SDK's base directory.
std::string goodSdkDirectory();

inline std::uint64_t address(const void* pointer) {
  return reinterpret_cast<std::uint64_t>(pointer);
}

// A plug-in with a loaded checker, made without injection; the destructor
// unloads and releases it.
struct LoadedChecker {
  LoadedChecker();
  ~LoadedChecker();

  AllocationHostLog log;
  AllocationHostInput input{&log};
  HostPtr<kesp::plugins::PluginV1> plugin;
  HostPtr<fp::CheckerV1> checker;
};

}  // namespace kesp::test
