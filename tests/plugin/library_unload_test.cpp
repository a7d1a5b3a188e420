// The plug-in library itself can be freed and loaded again: nothing of it
// runs when the system unloads it, so nothing calls into the SDK, frees a
// library or writes to the host log then.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/dynamic_library.h"
#include "tests/plugin/library_mapped.h"
#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"
#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using fp::Status;

const std::string kPluginPath = pluginPath();

const std::vector<std::string> kSessionEvents = {
    "load",           "FPCCreate",          "initialize",   "setProxy",   "createFpcInstance",
    "checkDetection", "destroyFpcInstance", "uninitialize", "FPCDestroy", "unload"};

// One whole host session on the loaded plug-in library: plug-in, checker,
// load, instance, a check, then everything released in the host's order.
void runSession(const plx::DynamicLibrary& library, RecordingHostLog& log) {
  const auto getPlugin = library.getFunction<KESPGetPluginFunction>("KESPGetPlugin");
  FakePluginInput input(&log);
  input.setString(kesp::PluginInputHostDataString, kHostDataString);
  HostPtr<kesp::plugins::PluginV1> plugin(getPlugin(&input));
  ASSERT_NE(plugin, nullptr);
  HostPtr<fp::CheckerV1> checker(plugin->getChecker());
  ASSERT_NE(checker, nullptr);
  checker->getConfig()->setApiVersion(2, 0);
  ASSERT_EQ(checker->getConfig()->setBaseDirectory(sdkDirectory("good").c_str()),
            Status::Success);
  ASSERT_EQ(checker->load(), Status::Success);
  {
    fp::InstanceV1* created = nullptr;
    ASSERT_EQ(checker->createInstance(&created), Status::Success);
    HostPtr<fp::InstanceV1> instance(created);
    HostPtr<fp::MemoryFileInputV1> input(
        static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
    ASSERT_NE(input, nullptr);
    const char buffer[] = "bytes";
    ASSERT_EQ(input->setDetectionName("Trojan.Test"), Status::Success);
    ASSERT_EQ(input->setBuffer(buffer, sizeof buffer), Status::Success);
    fp::OutputV1* output = nullptr;
    ASSERT_EQ(instance->check(input.get(), &output), Status::Success);
    HostPtr<fp::OutputV1> verdict(output);
    EXPECT_TRUE(verdict->isFalsePositive());
  }
  ASSERT_EQ(checker->unload(), Status::Success);
  // The SDK library is gone once the checker is unloaded, while the plug-in
  // is still loaded and still has a checker.
  EXPECT_EQ(FakeSdk::instance().events(), kSessionEvents);
  checker.reset();
  plugin.reset();
  EXPECT_EQ(log.lines().back().text, "VFPC checker release plugin called");
}

TEST(PluginLibrary, IsFreedWithoutAnyHostCall) {
  FakeSdk::instance().reset();
  {
    const plx::DynamicLibrary library(kPluginPath);
    EXPECT_TRUE(isLibraryMapped(kPluginPath));
  }
  EXPECT_FALSE(isLibraryMapped(kPluginPath));
  EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{});
}

TEST(PluginLibrary, IsFreedAfterAWholeSessionAndServesASecondOneWhenLoadedAgain) {
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    FakeSdk::instance().reset();
    FakeSdk::instance().setVerdict(true);
    RecordingHostLog log;
    std::optional<plx::DynamicLibrary> library(std::in_place, kPluginPath);
    runSession(*library, log);
    if (HasFatalFailure()) return;
    const std::vector<LogLine> linesAtLastRelease = log.lines();
    library.reset();
    EXPECT_FALSE(isLibraryMapped(kPluginPath));
    EXPECT_EQ(log.lines(), linesAtLastRelease);
    EXPECT_EQ(FakeSdk::instance().events(), kSessionEvents);
  }
}

}  // namespace
}  // namespace kesp::test
