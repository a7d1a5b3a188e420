// The log interface the SDK writes through, as the SDK received it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
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

// One U+FFFD for each maximal subpart: the longest start of a well-formed
// sequence, or else a single byte. A NUL byte ends the line.
TEST(SdkLog, BytesThatAreNotUtf8ArriveReplacedOncePerMaximalSubpart) {
  const std::pair<std::string, std::string> lines[] = {
      {"Fichier trait\xE9 : ok", "Fichier trait\uFFFD : ok"},   // Latin-1
      {"cut \xE2\x82", "cut \uFFFD"},                          // truncated at the end
      {"a\xE2\x82" "A", "a\uFFFD" "A"},                         // truncated inside
      {"\xC0\xAF", "\uFFFD\uFFFD"},                           // overlong: no valid lead
      {"\xED\xA0\x80", "\uFFFD\uFFFD\uFFFD"},                 // an encoded surrogate
      {"\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD\uFFFD"},       // above U+10FFFF
      {"\xF0\x9F\x98" "x", "\uFFFD" "x"},                       // three of four bytes
      {"\x80\xBF", "\uFFFD\uFFFD"},                           // lone continuations
      {"caf\u00E9 \U0001F600", "caf\u00E9 \U0001F600"},         // well-formed: unchanged
      {std::string("cut\0here", 8), "cut"},                      // the host takes C text
  };
  PluginHost host;
  auto checker = host.loadedChecker();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  for (const auto& [sent, arrived] : lines) {
    host.log.clear();
    sdkLog->log(2, 0, sent);
    EXPECT_EQ(host.log.lines(), std::vector<LogLine>{(LogLine{2, 5, 0, "[fpcsdk] " + arrived})});
  }
  EXPECT_EQ(checker->unload(), Status::Success);
}

const char kDroppedOne[] = "Dropped 1 log line(s) that the VFPC SDK wrote after FPCDestroy";

// A line from the SDK's static destructors, which run when the plug-in frees
// the library after FPCDestroy: dropped, and counted by the unload or the
// release that freed it.
TEST(SdkLog, ALineWrittenWhileTheLibraryUnloadsIsDroppedAndCounted) {
  for (const bool unload : {true, false}) {
    SCOPED_TRACE(unload ? "unload" : "release while loaded");
    PluginHost host;
    auto checker = host.loadedChecker();
    FakeSdk::instance().setLineAtUnload("flushed at unload");
    host.log.clear();
    if (unload) {
      EXPECT_EQ(checker->unload(), Status::Success);
    } else {
      checker.reset();
    }
    EXPECT_EQ(host.log.texts(2), std::vector<std::string>{kDroppedOne});
    EXPECT_EQ(host.log.texts(0), std::vector<std::string>{});
    EXPECT_EQ(FakeSdk::instance().events().back(), "unload");
  }
}

// An SDK library that stays loaded may call its interface at any time: the
// calls are dropped, never a crash, and counted when the checker is
// released; after that, and after the plug-in object is gone, they are still
// harmless. The library stays loaded for the rest of this program.
TEST(SdkLog, AnSdkThatStaysLoadedMayStillCallItsInterfaceAfterUnload) {
  PluginHost host;
  auto checker = host.configuredChecker("pinned");
  ASSERT_EQ(checker->load(), Status::Success);
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  ASSERT_EQ(checker->unload(), Status::Success);
  host.log.clear();
  EXPECT_FALSE(sdkLog->filter(0));
  sdkLog->log(0, 0, "late");
  EXPECT_EQ(host.log.lines(), std::vector<LogLine>{});
  checker.reset();
  EXPECT_EQ(host.log.texts(2), std::vector<std::string>{kDroppedOne});
  host.plugin.reset();
  sdkLog->log(0, 0, "later still");
  EXPECT_FALSE(sdkLog->filter(3));
}

}  // namespace
}  // namespace kesp::test
