// The host log object fpcheck gives the plug-in: prints the lines up to a
// chosen level to standard error with their level names, and lets a thread
// collect the error lines written while it works, to report them with the
// result they belong to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kesp/host.h"
#include "tools/console.h"

namespace fpcheck {

// The print level that prints nothing.
inline constexpr int kPrintNothing = -1;

// "error", "warning", "info", "debug", or "level N".
std::string levelName(std::uint32_t level);

class ConsoleLog final : public kesp::HostLog {
 public:
  // printLevel: the highest level printed (0 error ... 3 debug), or
  // kPrintNothing.
  ConsoleLog(Console& console, int printLevel) : console_(console), printLevel_(printLevel) {}

  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) override;
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) override;

  // While a Collect lives, the error lines that the plug-in writes on this
  // thread are kept in it too. The plug-in logs on the caller's thread, so
  // these are the lines of the call in progress. Collects do not nest.
  class Collect {
   public:
    Collect();
    ~Collect();
    Collect(const Collect&) = delete;
    Collect& operator=(const Collect&) = delete;

    // The collected lines joined by separator, or empty.
    std::string text(const char* separator = " | ") const;

   private:
    friend class ConsoleLog;
    std::vector<std::string> lines_;
  };

 private:
  Console& console_;
  int printLevel_;
};

}  // namespace fpcheck
