// Standard error of the tool: its own messages, the plug-in's log lines and,
// on a terminal, one progress line kept below them.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace fpcheck {

class Console {
 public:
  // One whole line; a progress line on screen is wiped first and drawn again
  // after it. Safe from any thread.
  void line(std::string_view text);
  // Replaces the progress line (only call this on a terminal).
  void progress(std::string_view text);
  // Wipes the progress line for good.
  void endProgress();

 private:
  void wipe();

  std::mutex mutex_;
  std::string progress_;
};

}  // namespace fpcheck
