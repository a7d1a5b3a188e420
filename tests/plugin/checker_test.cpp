// The checker's life: load, commands, information and unload.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

TEST(CheckerLoad, RefusesASecondLoadButLoadsAgainAfterUnload) {
  PluginHost host;
  auto checker = host.loadedChecker();
  host.log.clear();
  EXPECT_EQ(checker->load(), Status::AlreadyInitialized);
  EXPECT_EQ(host.log.texts(0), (std::vector<std::string>{"VFPC checker already loaded"}));
  EXPECT_NE(checker->getInfo(), nullptr);
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(checker->getInfo(), nullptr);
  EXPECT_EQ(checker->load(), Status::Success);
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().configs().size(), 2u);
}

TEST(CheckerLoad, AcceptsOnlyApiVersionTwoZero) {
  struct Case {
    std::uint32_t major;
    std::uint32_t minor;
    std::string message;
  };
  const Case cases[] = {
      {0, 0, "FP checker major API version is '0', expected '2'"},
      {3, 0, "FP checker major API version is '3', expected '2'"},
      // The minor version is not looked at when the major one is wrong.
      {1, 7, "FP checker major API version is '1', expected '2'"},
      {2, 1, "API version is '2.1', expected version to be at most '2.0'"},
      {2, 4294967295u, "API version is '2.4294967295', expected version to be at most '2.0'"},
  };
  for (const Case& c : cases) {
    PluginHost host;
    auto checker = host.configuredChecker();
    checker->getConfig()->setApiVersion(c.major, c.minor);
    host.log.clear();
    EXPECT_EQ(checker->load(), Status::NotSupported);
    EXPECT_EQ(host.log.texts(0), (std::vector<std::string>{c.message}));
    EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{}) << "SDK touched";
  }
}

TEST(CheckerLoad, NeedsABaseDirectory) {
  PluginHost host;
  auto checker = host.checker();
  checker->getConfig()->setApiVersion(2, 0);
  host.log.clear();
  EXPECT_EQ(checker->load(), Status::Error);
  EXPECT_EQ(host.log.lines(),
            (std::vector<LogLine>{
                {3, 5, 0, "Loading VFPC checker"},
                {0, 5, 0, "Missing mandatory configuration. Please define 'baseDirectory'"}}));
}

// A configured checker that is not loaded has no information, makes no
// instance and has nothing to unload; once loaded, its information is there.
TEST(CheckerNotLoaded, HasNoInformationNoInstancesAndNothingToUnload) {
  PluginHost host;
  auto checker = host.configuredChecker();
  fp::InstanceV1* untouched = reinterpret_cast<fp::InstanceV1*>(0x1234);
  fp::InstanceV1* instance = untouched;
  host.log.clear();
  EXPECT_EQ(checker->getInfo(), nullptr);
  EXPECT_EQ(checker->createInstance(&instance), Status::NotInitialized);
  EXPECT_EQ(instance, untouched);
  EXPECT_EQ(checker->unload(), Status::NotInitialized);
  EXPECT_EQ(host.log.lines(),
            (std::vector<LogLine>{
                {3, 5, 0, "Accessing VFPC checker information"},
                {0, 5, 0, "Error returning VFPC checker information: VFPC checker is not loaded"},
                {3, 5, 0, "Creating VFPC checker instance"},
                {0, 5, 0, "Failed to create VFPC checker instance: VFPC checker is not loaded"},
                {3, 5, 0, "Unloading VFPC checker"},
                {0, 5, 0, "VFPC is not loaded"}}));
  ASSERT_EQ(checker->load(), Status::Success);
  const fp::CheckerInfo* info = checker->getInfo();
  EXPECT_NE(info, nullptr);
  EXPECT_EQ(checker->getInfo(), info);
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(CheckerCommands, AnswerInEveryState) {
  PluginHost host;
  auto checker = host.configuredChecker();
  const fp::CheckerCommand checkConnection{0};
  const fp::CheckerCommand threadCleanup{1};
  const fp::CheckerCommand unknown{7};

  host.log.clear();
  EXPECT_EQ(checker->sendCommand(&checkConnection), Status::NotSupported);
  EXPECT_EQ(checker->sendCommand(&threadCleanup), Status::NotInitialized);
  EXPECT_EQ(checker->sendCommand(&unknown), Status::Error);
  EXPECT_EQ(host.log.lines(),
            (std::vector<LogLine>{
                {2, 5, 0, "Sending 'check connection' command to VFPC checker"},
                {2, 5, 0, "Sending 'thread cleanup' command to VFPC checker"},
                {0, 5, 0, "VFPC is not loaded"},
                {2, 5, 0, "Sending 'unknown' command to VFPC checker"},
                {0, 5, 0, "Error sending command: unknown command id '7'"}}));

  ASSERT_EQ(checker->load(), Status::Success);
  FakeSdk::instance().clearEvents();
  host.log.clear();
  EXPECT_EQ(checker->sendCommand(&checkConnection), Status::NotSupported);
  EXPECT_EQ(checker->sendCommand(&threadCleanup), Status::Success);
  EXPECT_EQ(checker->sendCommand(&unknown), Status::Error);
  EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{"threadCleanup"});
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"Error sending command: unknown command id '7'"}));
  EXPECT_EQ(checker->sendCommand(nullptr), Status::Error);
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(CheckerUnload, WaitsForTheLastInstance) {
  PluginHost host;
  auto checker = host.loadedChecker();
  auto first = host.instance(*checker);
  auto second = host.instance(*checker);
  host.log.clear();
  EXPECT_EQ(checker->unload(), Status::InUse);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{
                "VFPC checker can't be unloaded since there are still '2' instances running"}));
  first.reset();
  EXPECT_EQ(checker->unload(), Status::InUse);
  second.reset();
  FakeSdk::instance().clearEvents();
  EXPECT_EQ(checker->unload(), Status::Success);
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"uninitialize", "FPCDestroy", "unload"}));
}

// A refused uninitialize keeps the checker loaded; an unknown code is an
// error besides.
TEST(CheckerUnload, ARefusedUninitializeKeepsTheCheckerLoaded) {
  const std::tuple<std::int32_t, Status, std::vector<std::string>> refusals[] = {
      {2, Status::NotInitialized, {}},
      {13, Status::Error,
       {"Internal error: VFPC SDK error '13' is not yet mapped to any interface error"}},
  };
  for (const auto& [code, status, lines] : refusals) {
    SCOPED_TRACE(code);
    PluginHost host;
    auto checker = host.loadedChecker();
    FakeSdk& sdk = FakeSdk::instance();
    sdk.setResult(SdkOp::Uninitialize, code);
    sdk.clearEvents();
    host.log.clear();
    EXPECT_EQ(checker->unload(), status);
    EXPECT_EQ(host.log.texts(0), lines);
    EXPECT_NE(checker->getInfo(), nullptr);
    EXPECT_EQ(checker->load(), Status::AlreadyInitialized);
    sdk.setResult(SdkOp::Uninitialize, 0);
    EXPECT_EQ(checker->unload(), Status::Success);
    EXPECT_EQ(sdk.events(),
              (std::vector<std::string>{"uninitialize", "uninitialize", "FPCDestroy", "unload"}));
  }
}

TEST(CheckerRelease, ShutsALoadedSdkDownInUnloadOrder) {
  PluginHost host;
  auto checker = host.loadedChecker();
  FakeSdk::instance().clearEvents();
  checker.reset();
  EXPECT_EQ(FakeSdk::instance().events(),
            (std::vector<std::string>{"uninitialize", "FPCDestroy", "unload"}));
}

TEST(CheckerInstances, ASdkRefusalIsReportedWithItsStatus) {
  PluginHost host;
  auto checker = host.loadedChecker();
  FakeSdk::instance().setResult(SdkOp::CreateInstance, 10);
  fp::InstanceV1* instance = nullptr;
  host.log.clear();
  EXPECT_EQ(checker->createInstance(&instance), Status::CloudError);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"Failed to create VFPC checker instance: FP checker error: "
                                      "Failed to create VFPC SDK instance: quota limit reached"}));
  // Nothing was counted.
  EXPECT_EQ(checker->unload(), Status::Success);
}

// An SDK that answers 0 but makes no object or no instance: nothing is used,
// the host gets an error.
TEST(CheckerInstances, ASuccessWithoutAnObjectOrAnInstanceIsAnError) {
  PluginHost host;
  auto checker = host.configuredChecker();
  FakeSdk::instance().setResult(SdkOp::Create, kSucceedWithoutObject);
  host.log.clear();
  EXPECT_EQ(checker->load(), Status::Error);
  EXPECT_EQ(host.log.texts(0), std::vector<std::string>{
                                   "Internal error: VFPC SDK reported success but created no "
                                   "VFPC object"});
  FakeSdk::instance().setResult(SdkOp::Create, 0);
  ASSERT_EQ(checker->load(), Status::Success);
  FakeSdk::instance().setResult(SdkOp::CreateInstance, kSucceedWithoutObject);
  fp::InstanceV1* instance = nullptr;
  host.log.clear();
  EXPECT_EQ(checker->createInstance(&instance), Status::Error);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(host.log.texts(0), std::vector<std::string>{
                                   "Internal error: VFPC SDK reported success but created no "
                                   "VFPC instance"});
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
