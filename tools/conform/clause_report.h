// How a clause's process tells the kit what happened: a file of its own,
// one line per step it starts ("step <text>") and, at the end, its result
// ("result PASS", "result FAIL <reason>", "result SKIP <reason>"). The
// SDK's standard output and error stay apart, and a process that crashes or
// hangs still leaves the step it was in.
#pragma once

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace conform {

enum class Verdict { Pass, Fail, Skip };

struct ClauseResult {
  Verdict verdict = Verdict::Fail;
  std::string reason;  // one line; empty for a pass
};

// Thrown by a clause to end it.
struct ClauseFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
struct ClauseSkipped : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The clause's side. Steps may come from any thread.
class ClauseReport {
 public:
  explicit ClauseReport(const std::filesystem::path& file);
  ~ClauseReport();
  ClauseReport(const ClauseReport&) = delete;
  ClauseReport& operator=(const ClauseReport&) = delete;

  void step(std::string_view what);
  // Writes the result and ends the process at once, without running the
  // static destructors of the program or of the SDK library.
  [[noreturn]] void finish(const ClauseResult& result);

 private:
  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

// The kit's side.
struct ReportRead {
  std::optional<ClauseResult> result;
  std::string lastStep;  // empty when none was written
};
ReportRead readReport(const std::filesystem::path& file);

// text on one line, as the kit prints it: bytes that are not printable
// UTF-8 (control characters, bytes of broken sequences) as \xNN, and cut
// after limit bytes with "...".
std::string printable(std::string_view text, std::size_t limit = 120);

}  // namespace conform
