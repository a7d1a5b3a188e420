#include "foundation/logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/log_adapter.h"
#include "tests/support/recording_log.h"

namespace {

using kesp::test::LogLine;
using kesp::test::RecordingHostLog;
using kesp::test::RecordingLogInterface;

// glibc's vsnprintf fails at once on a wide character that has no multibyte
// form. mingw's printf has no failure path at all: it stops such a string
// silently, and a result past INT_MAX crashes it (a huge field width
// overflows the stack), so no format can make it report a failed measurement
// there. The branch is platform-independent code, checked where it can be.
#if defined(_WIN32)
constexpr bool kPrintfCanFailToMeasure = false;
#else
constexpr bool kPrintfCanFailToMeasure = true;
#endif
const wchar_t kUnpairedSurrogate[] = {static_cast<wchar_t>(0xD800), 0};
constexpr const char kLengthError[] = "(Logger error) Failed to get log message length";

TEST(Logger, FormattedMessageAtTheSizeLimitArrivesWhole) {
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  const std::string exact(16383, 'a');
  logger.logFormat(2, 5, 0, "%s", exact.c_str());
  const std::string longer(16384, 'b');
  logger.logFormat(2, 5, 0, "%s", longer.c_str());
  // The cut is made in the formatted text, not in an argument.
  const std::string tail(16400, 'c');
  logger.logFormat(3, 5, 0, "%u:%s", 7u, tail.c_str());
  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (LogLine{2, 5, 0, exact}));
  EXPECT_EQ(lines[1], (LogLine{2, 5, 1, std::string(16383, 'b')}));
  EXPECT_EQ(lines[2], (LogLine{3, 5, 1, "7:" + std::string(16381, 'c')}));
}

TEST(Logger, TruncationAddsBitZeroToTheCallersFlags) {
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  const std::string longer(20000, 'x');
  logger.logFormat(0, 9, 0x40, "%s", longer.c_str());
  logger.logFormat(0, 9, 0x40, "%s", "short");
  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (LogLine{0, 9, 0x41, std::string(16383, 'x')}));
  EXPECT_EQ(lines[1], (LogLine{0, 9, 0x40, "short"}));
}

// A character of 2, 3 or 4 bytes, placed so that `before` of its bytes come
// at or below the limit of 16383.
struct CutCase {
  const char* name;
  std::string character;
  std::size_t before;
};

class LoggerUtf8Cut : public ::testing::TestWithParam<CutCase> {};

TEST_P(LoggerUtf8Cut, KeepsTheLastCompleteCharacter) {
  const CutCase& param = GetParam();
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  const std::string head(16383 - param.before, 'a');
  logger.logFormat(2, 5, 0x40, "%s%s%s", head.c_str(), param.character.c_str(), "tail");
  const bool fits = param.before == param.character.size();
  const std::string expected = fits ? head + param.character : head;
  EXPECT_EQ(sink.lines(), (std::vector<LogLine>{{2, 5, 0x41, expected}}));
}

INSTANTIATE_TEST_SUITE_P(AcrossTheLimit, LoggerUtf8Cut,
    ::testing::Values(CutCase{"TwoByteSplit1", "\xC3\xA9", 1},
                      CutCase{"TwoByteWhole", "\xC3\xA9", 2},
                      CutCase{"ThreeByteSplit1", "\xE2\x82\xAC", 1},
                      CutCase{"ThreeByteSplit2", "\xE2\x82\xAC", 2},
                      CutCase{"ThreeByteWhole", "\xE2\x82\xAC", 3},
                      CutCase{"FourByteSplit1", "\xF0\x9F\x98\x80", 1},
                      CutCase{"FourByteSplit3", "\xF0\x9F\x98\x80", 3},
                      CutCase{"FourByteWhole", "\xF0\x9F\x98\x80", 4}),
    [](const ::testing::TestParamInfo<CutCase>& info) { return std::string(info.param.name); });

TEST(Logger, BytesThatAreNotASplitCharacterAreCutAtTheLimit) {
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  // Continuation bytes without a lead byte, and more of them than any
  // character has: nothing to keep whole, so the cut stays where it was.
  const std::string stray = std::string(16380, 'a') + std::string(8, '\x80');
  logger.logFormat(2, 5, 0, "%s", stray.c_str());
  const std::string lone = std::string(16382, 'a') + "\xC3";
  logger.logFormat(2, 5, 0, "%s!", lone.c_str());
  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (LogLine{2, 5, 1, stray.substr(0, 16383)}));
  EXPECT_EQ(lines[1], (LogLine{2, 5, 1, lone}));
}

TEST(Logger, FixedTextIsDeliveredWholeAndVerbatim) {
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  // Not a format: the percent signs must reach the sink as they are.
  const std::string text = "100% done, %s %u %n " + std::string(40000, 'z');
  logger.log(1, 5, 0, text.c_str());
  ASSERT_EQ(sink.lines(), (std::vector<LogLine>{{1, 5, 0, text}}));
}

TEST(Logger, WithoutASinkNothingIsDelivered) {
  const plx::Logger logger(nullptr);
  EXPECT_FALSE(logger.isEnabled(0, 5, 0));
  // Would crash if the logger went on to format or to call a sink.
  logger.logFormat(0, 5, 0, "%s %u", "text", 1u);
  logger.log(0, 5, 0, "text");
  const plx::LogChannel channel(logger, 5, 0);
  channel.format(0, "%s", "text");
  EXPECT_FALSE(channel.isEnabled(0));
}

TEST(Logger, UnwantedMessagesAreNotDelivered) {
  RecordingLogInterface sink(2);  // no debug lines wanted
  const plx::Logger logger(&sink);
  logger.logFormat(3, 5, 0, "%s", "trace");
  logger.log(3, 5, 0, "fixed trace");
  logger.logFormat(0, 5, 0, "%s", "error");
  logger.log(2, 5, 0, "notice");
  EXPECT_EQ(sink.lines(), (std::vector<LogLine>{{0, 5, 0, "error"}, {2, 5, 0, "notice"}}));
  EXPECT_EQ(sink.enabledQueries(), 4u);
}

TEST(Logger, FailedMeasurementGivesOneLoggerError) {
  if (!kPrintfCanFailToMeasure) GTEST_SKIP() << "this printf never reports a failed measurement";
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  // At level 0 whatever the caller's level, with the caller's module and
  // flags, and without asking the sink a second time.
  logger.logFormat(3, 5, 0, "name: %ls", kUnpairedSurrogate);
  EXPECT_EQ(sink.lines(), (std::vector<LogLine>{{0, 5, 0, kLengthError}}));
  EXPECT_EQ(sink.enabledQueries(), 1u);

  sink.clear();
  logger.logFormat(2, 9, 0x40, "%ls", kUnpairedSurrogate);
  EXPECT_EQ(sink.lines(), (std::vector<LogLine>{{0, 9, 0x40, kLengthError}}));
}

TEST(Logger, UnwantedMessageIsNotEvenMeasured) {
  if (!kPrintfCanFailToMeasure) GTEST_SKIP() << "this printf never reports a failed measurement";
  RecordingLogInterface sink(2);
  const plx::Logger logger(&sink);
  // Measuring would fail and be reported at level 0, which the sink wants.
  logger.logFormat(3, 5, 0, "%ls", kUnpairedSurrogate);
  EXPECT_TRUE(sink.lines().empty());
}

TEST(LogAdapter, NullHostLogSilencesEverything) {
  kesp::LogAdapter adapter(nullptr);
  for (std::uint32_t level = 0; level <= 3; ++level) EXPECT_FALSE(adapter.isEnabled(level, 5, 0));
  adapter.log(0, 5, 0, "dropped");
  const plx::Logger logger(&adapter);
  logger.logFormat(0, 5, 0, "%s", "dropped");
}

TEST(LogAdapter, PassesLevelsZeroToTwoModuleFlagsAndTextUnchanged) {
  RecordingHostLog host;
  kesp::LogAdapter adapter(&host);
  for (std::uint32_t level = 0; level <= 2; ++level) {
    EXPECT_TRUE(adapter.isEnabled(level, 77, 0x8001));
    adapter.log(level, 77, 0x8001, "50% of %s");
  }
  EXPECT_EQ(host.lines(), (std::vector<LogLine>{{0, 77, 0x8001, "50% of %s"},
                                                {1, 77, 0x8001, "50% of %s"},
                                                {2, 77, 0x8001, "50% of %s"}}));
}

TEST(LogAdapter, LevelsAboveTwoArriveAsDebug) {
  RecordingHostLog host;
  kesp::LogAdapter adapter(&host);
  const plx::Logger logger(&adapter);
  // The host is asked with the converted level too: it knows nothing above 3.
  for (const std::uint32_t level : {3u, 4u, 7u, 0xFFFFFFFFu}) {
    logger.logFormat(level, 5, 0, "level %u", level);
  }
  EXPECT_EQ(host.lines(), (std::vector<LogLine>{{3, 5, 0, "level 3"},
                                                {3, 5, 0, "level 4"},
                                                {3, 5, 0, "level 7"},
                                                {3, 5, 0, "level 4294967295"}}));
}

TEST(LogAdapter, HostThatRefusesDebugSuppressesTraceLinesOnly) {
  RecordingHostLog host(2);
  kesp::LogAdapter adapter(&host);
  const plx::Logger logger(&adapter);
  logger.logFormat(3, 5, 0, "%s", "Loading VFPC checker");
  logger.logFormat(7, 5, 0, "%s", "beyond debug");
  logger.logFormat(0, 5, 0, "%s", "Invalid configuration: base directory is empty");
  EXPECT_EQ(host.lines(),
            (std::vector<LogLine>{{0, 5, 0, "Invalid configuration: base directory is empty"}}));
}

}  // namespace
