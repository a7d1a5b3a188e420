// The log interface a test gives the reference SDK: answers filter up to a
// level and records every call in order.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fpcsdk/fpcsdk.h"

namespace kesp::test {

struct SdkLogLine {
  std::int32_t level;
  std::string text;
  bool operator==(const SdkLogLine&) const = default;
};

class SdkLogRecorder final : public fpcsdk::LogInterface {
 public:
  explicit SdkLogRecorder(std::int32_t maxLevel = 3) : maxLevel_(maxLevel) {}

  bool filter(std::int32_t level) override {
    std::lock_guard lock(mutex_);
    calls_.push_back("filter " + std::to_string(level));
    return level <= maxLevel_;
  }
  void log(std::int32_t level, std::int32_t, const std::string& message) override {
    std::lock_guard lock(mutex_);
    calls_.push_back("log " + std::to_string(level));
    lines_.push_back({level, message});
  }

  std::vector<SdkLogLine> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }
  // The texts of one level, in order.
  std::vector<std::string> texts(std::int32_t level) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const SdkLogLine& line : lines_) {
      if (line.level == level) texts.push_back(line.text);
    }
    return texts;
  }
  // "filter L" and "log L", in call order.
  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::int32_t maxLevel_;
  std::vector<std::string> calls_;
  std::vector<SdkLogLine> lines_;
};

}  // namespace kesp::test
