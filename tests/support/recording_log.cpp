#include "tests/support/recording_log.h"

#include <gtest/gtest.h>

namespace kesp::test {

void PrintTo(const LogLine& line, std::ostream* out) {
  *out << "{level " << line.level << ", module " << line.module << ", flags " << line.flags
       << ", \"" << line.text << "\"}";
}

void LineRecorder::setMaxLevel(std::uint32_t maxLevel) {
  const std::lock_guard lock(mutex_);
  maxLevel_ = maxLevel;
}

std::vector<LogLine> LineRecorder::lines() const {
  const std::lock_guard lock(mutex_);
  return lines_;
}

std::vector<std::string> LineRecorder::texts(std::uint32_t level) const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> result;
  for (const LogLine& line : lines_) {
    if (line.level == level) result.push_back(line.text);
  }
  return result;
}

void LineRecorder::clear() {
  const std::lock_guard lock(mutex_);
  lines_.clear();
  enabledQueries_ = 0;
}

std::uint64_t LineRecorder::enabledQueries() const {
  const std::lock_guard lock(mutex_);
  return enabledQueries_;
}

bool LineRecorder::recordQuery(std::uint32_t level) {
  const std::lock_guard lock(mutex_);
  ++enabledQueries_;
  return level <= maxLevel_;
}

void LineRecorder::recordLine(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                              const char* text) {
  const std::lock_guard lock(mutex_);
  // A line the sink said it does not want is a fault of the caller.
  EXPECT_LE(level, maxLevel_) << "unwanted line delivered: " << text;
  lines_.push_back(LogLine{level, module, flags, text});
}

bool RecordingHostLog::isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) {
  return recordQuery(level);
}

void RecordingHostLog::log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                           const char* text) {
  recordLine(level, module, flags, text);
}

bool RecordingLogInterface::isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) {
  return recordQuery(level);
}

void RecordingLogInterface::log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                                const char* text) {
  recordLine(level, module, flags, text);
}

}  // namespace kesp::test
