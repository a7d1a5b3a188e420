#include "tools/console_log.h"

namespace fpcheck {

namespace {
thread_local ConsoleLog::Collect* collecting = nullptr;
}  // namespace

std::string levelName(std::uint32_t level) {
  switch (level) {
    case kesp::HostLogError:
      return "error";
    case kesp::HostLogWarning:
      return "warning";
    case kesp::HostLogInfo:
      return "info";
    case kesp::HostLogDebug:
      return "debug";
    default:
      return "level " + std::to_string(level);
  }
}

ConsoleLog::Collect::Collect() { collecting = this; }

ConsoleLog::Collect::~Collect() { collecting = nullptr; }

std::string ConsoleLog::Collect::text(const char* separator) const {
  std::string joined;
  for (const std::string& line : lines_) {
    if (!joined.empty()) joined += separator;
    joined += line;
  }
  return joined;
}

bool ConsoleLog::isEnabled(std::uint32_t level, std::uint32_t, std::uint32_t) {
  return (printLevel_ >= 0 && level <= static_cast<std::uint32_t>(printLevel_)) ||
         (level == kesp::HostLogError && collecting != nullptr);
}

void ConsoleLog::log(std::uint32_t level, std::uint32_t, std::uint32_t flags, const char* text) {
  // The host log must not throw into the plug-in.
  try {
    const std::string message = text != nullptr ? text : "";
    if (level == kesp::HostLogError && collecting != nullptr) collecting->lines_.push_back(message);
    if (printLevel_ < 0 || level > static_cast<std::uint32_t>(printLevel_)) return;
    std::string line = "[" + levelName(level) + "] " + message;
    if ((flags & kesp::kLogFlagTruncated) != 0) line += " [cut short]";
    console_.line(line);
  } catch (...) {
  }
}

}  // namespace fpcheck
