#include "tests/hardening/allocation_host.h"

#include <gtest/gtest.h>

#include "foundation/dynamic_library.h"
#include "tests/hardening/failing_allocator.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

bool AllocationHostLog::isEnabled(std::uint32_t, std::uint32_t, std::uint32_t) { return true; }

void AllocationHostLog::log(std::uint32_t level, std::uint32_t, std::uint32_t, const char* text) {
  const allocation::Paused paused;
  if (level == 0) errors_.emplace_back(text);
}

std::vector<std::string> AllocationHostLog::take() {
  const allocation::Paused paused;
  return std::exchange(errors_, {});
}

const kesp::PluginInputData* AllocationHostInput::getData(std::uint32_t id) {
  static const kesp::PluginInputData data{0, kesp::PluginInputDataString,
                                          address(kAllocationHostData)};
  return id == kesp::PluginInputHostDataString ? &data : nullptr;
}

// The SDK calls these on the thread of the plug-in call, which is the test's.
void AllocationSdk::onEvent(const char* event) {
  const allocation::Paused paused;
  events.emplace_back(event);
}

void AllocationSdk::onInitialize(const fpcsdk::FPCConfig& config) {
  const allocation::Paused paused;
  configs.push_back(config);
}

void AllocationSdk::onSetProxy(const std::string& proxy, const std::string& certificatePath) {
  const allocation::Paused paused;
  proxies.emplace_back(proxy, certificatePath);
}

void AllocationSdk::onCheck(const fpcsdk::DetectionInput& input) {
  const allocation::Paused paused;
  detections.push_back(input);
}

void AllocationSdk::clear() {
  events.clear();
  configs.clear();
  proxies.clear();
  detections.clear();
}

AllocationSdk& allocationSdk() {
  static AllocationSdk sdk;
  return sdk;
}

KESPGetPluginFunction allocationPluginEntry() {
  static const plx::DynamicLibrary library(plx::joinPath(
      {executableDirectory(), plx::sharedLibraryFileName(KESP_ALLOCATION_TEST_PLUGIN)}));
  static const auto function = library.getFunction<KESPGetPluginFunction>("KESPGetPlugin");
  return function;
}

std::string goodSdkDirectory() { return plx::joinPath({executableDirectory(), "sdk", "good"}); }

LoadedChecker::LoadedChecker() {
  plugin.reset(allocationPluginEntry()(&input));
  checker.reset(plugin->getChecker());
  checker->getConfig()->setApiVersion(2, 0);
  EXPECT_EQ(checker->getConfig()->setBaseDirectory(goodSdkDirectory().c_str()),
            fp::Status::Success);
  EXPECT_EQ(checker->load(), fp::Status::Success);
}

LoadedChecker::~LoadedChecker() { EXPECT_EQ(checker->unload(), fp::Status::Success); }

}  // namespace kesp::test

KESP_HARDENING_EXPORT kesp::test::TestSdkControl* kespTestSdkControl() {
  return &kesp::test::allocationSdk();
}
