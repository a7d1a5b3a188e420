// The log interface the SDK writes through, as the SDK received it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

TEST(SdkLog, MapsLevelsAndPrefixesLines) {
  PluginHost host;
  auto checker = host.loadedChecker();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  host.log.clear();
  sdkLog->log(0, 77, "zero");
  sdkLog->log(1, 0, "one");
  sdkLog->log(2, 0, "two");
  sdkLog->log(3, 0, "three");
  sdkLog->log(4, 0, "four");
  sdkLog->log(-1, 0, "minus one");
  sdkLog->log(2, 0, "100% sure %s %n");
  sdkLog->log(2, 0, "");
  EXPECT_EQ(host.log.lines(), (std::vector<LogLine>{
                                  {0, 5, 0, "[fpcsdk] zero"},
                                  {1, 5, 0, "[fpcsdk] one"},
                                  {2, 5, 0, "[fpcsdk] two"},
                                  {3, 5, 0, "[fpcsdk] three"},
                                  {0, 5, 0, "[fpcsdk] four"},
                                  {0, 5, 0, "[fpcsdk] minus one"},
                                  {2, 5, 0, "[fpcsdk] 100% sure %s %n"},
                                  {2, 5, 0, "[fpcsdk] "},
                              }));
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(SdkLog, FilterFollowsTheHostLog) {
  PluginHost host;
  auto checker = host.loadedChecker();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  host.log.setMaxLevel(1);
  EXPECT_TRUE(sdkLog->filter(0));
  EXPECT_TRUE(sdkLog->filter(1));
  EXPECT_FALSE(sdkLog->filter(2));
  EXPECT_FALSE(sdkLog->filter(3));
  EXPECT_TRUE(sdkLog->filter(9)) << "unknown levels are errors";
  host.log.clear();
  sdkLog->log(3, 0, "not wanted");
  EXPECT_EQ(host.log.lines(), std::vector<LogLine>{});
  EXPECT_EQ(checker->unload(), Status::Success);
}

TEST(SdkLog, CutsLongLinesAndSaysSo) {
  PluginHost host;
  auto checker = host.loadedChecker();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  host.log.clear();
  const std::string prefix = "[fpcsdk] ";
  const std::string fits(16383 - prefix.size(), 'x');
  sdkLog->log(2, 0, fits);
  sdkLog->log(2, 0, fits + "y");
  const std::vector<LogLine> lines = host.log.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (LogLine{2, 5, 0, prefix + fits}));
  EXPECT_EQ(lines[1], (LogLine{2, 5, 1, prefix + fits}));
  EXPECT_EQ(checker->unload(), Status::Success);
}

}  // namespace
}  // namespace kesp::test
