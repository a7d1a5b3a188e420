// A checker released while loaded whose SDK refuses to shut down. Kept in a
// program of its own: the SDK library then stays mapped for the rest of the
// process, which would hide the library's load and unload from other tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

TEST(CheckerRelease, KeepsTheLibraryMappedWhenTheSdkRefusesToShutDown) {
  PluginHost host;
  auto checker = host.loadedChecker();
  FakeSdk::instance().setResult(SdkOp::Uninitialize, 11);
  FakeSdk::instance().clearEvents();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  host.log.clear();
  checker.reset();
  // The SDK object is alive, so its code must stay mapped: no FPCDestroy, no
  // unload.
  EXPECT_EQ(FakeSdk::instance().events(), std::vector<std::string>{"uninitialize"});
  EXPECT_EQ(host.log.texts(0),
            (std::vector<std::string>{"Failed to shut down VFPC SDK library on release: "
                                      "connection error; the library stays loaded"}));
  // The SDK object lives on and may still log: its log interface stays
  // valid, but silent.
  host.log.clear();
  EXPECT_FALSE(sdkLog->filter(0));
  sdkLog->log(0, 0, "written after the checker is gone");
  EXPECT_EQ(host.log.lines(), std::vector<LogLine>{});
}

}  // namespace
}  // namespace kesp::test
