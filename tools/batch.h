// fpcheck batch: requests read from a stream as they arrive, checked on
// several instances in as many threads, results written in input order (or
// as they are ready) while the rest is still being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/check_request.h"
#include "tools/console.h"
#include "tools/interruptible_input.h"
#include "tools/plugin_session.h"

namespace fpcheck {

// What one line of the input is.
enum class LineKind {
  Request,  // the request is filled
  Skipped,  // no request (a scanner's line about something else): counted, no result
  Invalid,  // a NotChecked result with the reason; path and detection as far as read
};

// Turns one input line (its line end taken off, never blank) into a request.
// Called once a line, on the worker thread that then checks it, several at
// once: it must keep no state between lines.
using LineParser =
    std::function<LineKind(std::string_view line, CheckRequest& request, std::string& reason)>;

// Our own JSON lines (parseRequestLine).
LineKind parseJsonLine(std::string_view line, CheckRequest& request, std::string& reason);

struct BatchSettings {
  unsigned jobs = 1;
  // Each result as soon as it is ready, with its input line number, instead
  // of in input order.
  bool unordered = false;
  LineParser parse = parseJsonLine;
  // Keeps a progress line there (on a terminal only).
  Console* progress = nullptr;
};

struct BatchSummary {
  std::size_t requests = 0;  // results written
  std::size_t checked = 0;   // checks that succeeded
  std::size_t falsePositives = 0;
  std::size_t skipped = 0;   // lines that were no request
  std::map<std::int64_t, std::pair<std::string, std::size_t>> errors;  // by status code
  std::set<std::string> hints;  // what to try, one per kind of network failure
  double seconds = 0;
  // Why the batch ended before the end of its input: an interrupt (kSigInt,
  // kSigTerm), standard output closed, or a failure, named (standard input
  // could not be read, a result was lost).
  int interrupt = 0;
  bool outputClosed = false;
  std::string failure;
  // Every input line up to this one was dealt with; after an early end, none
  // after it was checked.
  std::size_t lastLine = 0;

  // "6 requests, 5 checked, 3 false positives, 1 failed (NotChecked: 1),
  // 1234.5 checks per second", and after an interrupt "; interrupted by
  // SIGINT: no input line after 6 was checked".
  std::string text() const;
};

// Reads the lines of input as they arrive, checks the requests on
// settings.jobs instances of the session's loaded checker, each in a thread
// of its own, and writes one result line per request to results. At most a
// fixed number of requests are held between reading and writing, so memory
// does not grow with the input: reading waits while the window is full. On
// an interrupt or a failed write no new check starts, the running ones end
// and their results are written (if output still can be). Every instance is
// released before this returns.
BatchSummary runBatch(PluginSession& session, InterruptibleInput& input, std::ostream& results,
                      const BatchSettings& settings);

}  // namespace fpcheck
