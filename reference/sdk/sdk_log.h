// The reference SDK's side of the log interface it was given at creation.
#pragma once

#include <cstdint>
#include <string>

#include "fpcsdk/fpcsdk.h"

namespace vfpcsdk {

enum Level : std::int32_t { LevelError = 0, LevelWarning = 1, LevelInfo = 2, LevelDebug = 3 };

// Writes through a borrowed fpcsdk::LogInterface, which may be null (then
// nothing is written). The text is built only when filter wants the level,
// and nothing the interface throws reaches the caller.
class SdkLog {
 public:
  explicit SdkLog(fpcsdk::LogInterface* sink) noexcept : sink_(sink) {}

  template <class MakeText>
  void write(Level level, MakeText&& makeText) const noexcept {
    if (sink_ == nullptr) return;
    try {
      if (!sink_->filter(level)) return;
      const std::string text = makeText();
      sink_->log(level, 0, text);
    } catch (...) {
      // A log line is never worth a failed operation.
    }
  }

 private:
  fpcsdk::LogInterface* sink_;
};

}  // namespace vfpcsdk
