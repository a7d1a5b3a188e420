// The log interface the SDK writes through, as the SDK received it.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/fake_sdk.h"
#include "tests/support/plugin_host.h"

namespace kesp::test {
namespace {

using fp::Status;

// A line the SDK writes, and the line the host gets: at the level mapped
// (unknown levels are errors), prefixed, and with the text passed on as it
// is but for bytes that are not UTF-8. Those arrive as one U+FFFD for each
// maximal subpart: the longest start of a well-formed sequence, or else a
// single byte. A NUL byte ends the line.
struct SdkLine {
  std::int32_t level;
  std::string sent;
  std::uint32_t arrivedLevel;
  std::string arrived;
};

const SdkLine kSdkLines[] = {
    {0, "zero", 0, "zero"},
    {1, "one", 1, "one"},
    {2, "two", 2, "two"},
    {3, "three", 3, "three"},
    {4, "four", 0, "four"},
    {-1, "minus one", 0, "minus one"},
    {2, "100% sure %s %n", 2, "100% sure %s %n"},
    {2, "", 2, ""},
    {2, "Fichier trait\xE9 : ok", 2, "Fichier trait\uFFFD : ok"},  // Latin-1
    {2, "cut \xE2\x82", 2, "cut \uFFFD"},                          // truncated at the end
    {2, "a\xE2\x82" "A", 2, "a\uFFFD" "A"},                         // truncated inside
    {2, "\xC0\xAF", 2, "\uFFFD\uFFFD"},                           // overlong: no valid lead
    {2, "\xED\xA0\x80", 2, "\uFFFD\uFFFD\uFFFD"},                 // an encoded surrogate
    {2, "\xF4\x90\x80\x80", 2, "\uFFFD\uFFFD\uFFFD\uFFFD"},       // above U+10FFFF
    {2, "\xF0\x9F\x98" "x", 2, "\uFFFD" "x"},                       // three of four bytes
    {2, "\x80\xBF", 2, "\uFFFD\uFFFD"},                           // lone continuations
    {2, "caf\u00E9 \U0001F600", 2, "caf\u00E9 \U0001F600"},         // well-formed: unchanged
    {2, std::string("cut\0here", 8), 2, "cut"},                    // the host takes C text
};

TEST(SdkLog, MapsLevelsPrefixesLinesAndReplacesBytesThatAreNotUtf8) {
  PluginHost host;
  auto checker = host.loadedChecker();
  fpcsdk::LogInterface* sdkLog = FakeSdk::instance().logInterface();
  ASSERT_NE(sdkLog, nullptr);
  for (const SdkLine& line : kSdkLines) {
    host.log.clear();
    sdkLog->log(line.level, 77, line.sent);  // the context is not read
    EXPECT_EQ(host.log.lines(),
              std::vector<LogLine>{(LogLine{line.arrivedLevel, 5, 0, "[fpcsdk] " + line.arrived})});
  }
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
