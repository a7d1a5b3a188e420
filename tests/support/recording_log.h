// Log sinks for tests that record every line with all its parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/logger.h"
#include "kesp/host.h"

namespace kesp::test {

struct LogLine {
  std::uint32_t level;
  std::uint32_t module;
  std::uint32_t flags;
  std::string text;

  bool operator==(const LogLine&) const = default;
};

// Readable failure messages in tests.
void PrintTo(const LogLine& line, std::ostream* out);

// How the checked build's lines begin. A host that keeps the rules never
// gets one: arriving unexpected, it fails the test that caused it.
inline constexpr char kViolationPrefix[] = "Contract violation: ";

// Records what reaches it; safe to call from many threads. Levels above
// maxLevel are reported as not enabled (and must then never arrive).
class LineRecorder {
 public:
  explicit LineRecorder(std::uint32_t maxLevel = 3) : maxLevel_(maxLevel) {}

  void setMaxLevel(std::uint32_t maxLevel);
  // For tests that break the rules on purpose.
  void expectViolations();
  // Once, when a line with exactly this text arrives: calls call from inside
  // the log call, as a host's log callback may.
  void callOnLine(std::string text, std::function<void()> call);
  std::vector<LogLine> lines() const;
  // Only the lines of one level, texts only, in order.
  std::vector<std::string> texts(std::uint32_t level) const;
  void clear();
  std::uint64_t enabledQueries() const;

 protected:
  bool recordQuery(std::uint32_t level);
  void recordLine(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                  const char* text);

 private:
  mutable std::mutex mutex_;
  std::uint32_t maxLevel_;
  bool violationsExpected_ = false;
  std::string trigger_;
  std::function<void()> onTrigger_;
  std::uint64_t enabledQueries_ = 0;
  std::vector<LogLine> lines_;
};

// A host log object, as a host passes it through its plug-in input.
class RecordingHostLog final : public kesp::HostLog, public LineRecorder {
 public:
  using LineRecorder::LineRecorder;
  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;
};

// A sink for a plx::Logger used directly.
class RecordingLogInterface final : public plx::LogInterface, public LineRecorder {
 public:
  using LineRecorder::LineRecorder;
  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;
};

}  // namespace kesp::test
