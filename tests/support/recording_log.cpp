#include "tests/support/recording_log.h"

#include <gtest/gtest.h>

#include <string_view>
#include <utility>

namespace kesp::test {

void PrintTo(const LogLine& line, std::ostream* out) {
  *out << "{level " << line.level << ", module " << line.module << ", flags " << line.flags
       << ", \"" << line.text << "\"}";
}

void LineRecorder::setMaxLevel(std::uint32_t maxLevel) {
  const std::lock_guard lock(mutex_);
  maxLevel_ = maxLevel;
}

void LineRecorder::expectViolations() {
  const std::lock_guard lock(mutex_);
  violationsExpected_ = true;
}

void LineRecorder::callOnLine(std::string text, std::function<void()> call) {
  const std::lock_guard lock(mutex_);
  trigger_ = std::move(text);
  onTrigger_ = std::move(call);
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
  std::function<void()> call;
  {
    const std::lock_guard lock(mutex_);
    // A line the sink said it does not want is a fault of the caller.
    EXPECT_LE(level, maxLevel_) << "unwanted line delivered: " << text;
    if (!violationsExpected_ && std::string_view(text).starts_with(kViolationPrefix)) {
      ADD_FAILURE() << "the checked build names a broken rule: " << text;
    }
    lines_.push_back(LogLine{level, module, flags, text});
    if (!trigger_.empty() && trigger_ == text) {
      trigger_.clear();
      call = std::move(onTrigger_);
    }
  }
  if (call) call();
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
