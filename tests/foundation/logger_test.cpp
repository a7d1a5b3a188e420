#include "foundation/logger.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/recording_log.h"

namespace {

using kesp::test::LogLine;
using kesp::test::RecordingLogInterface;

TEST(Logger, FormattedMessageAtTheSizeLimitArrivesWhole) {
  RecordingLogInterface sink;
  const plx::Logger logger(&sink);
  const std::string exact(16383, 'a');
  logger.logFormat(2, 5, 0, "%s", exact.c_str());
  const std::string longer(16384, 'b');
  logger.logFormat(2, 5, 0, "%s", longer.c_str());
  const auto lines = sink.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], (LogLine{2, 5, 0, exact}));
  EXPECT_EQ(lines[1], (LogLine{2, 5, 1, std::string(16383, 'b')}));
}

}  // namespace
