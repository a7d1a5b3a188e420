// fpcheck batch: requests from a stream, checked on several instances in as
// many threads, results written in input order.
#pragma once

#include <cstddef>
#include <istream>
#include <map>
#include <set>
#include <ostream>
#include <string>

#include "tools/console.h"
#include "tools/plugin_session.h"

namespace fpcheck {

struct BatchSummary {
  std::size_t requests = 0;
  std::size_t checked = 0;  // checks that succeeded
  std::size_t falsePositives = 0;
  std::map<std::int64_t, std::pair<std::string, std::size_t>> errors;  // by status code
  std::set<std::string> hints;  // what to try, one per kind of network failure
  double seconds = 0;

  // "6 requests, 5 checked, 3 false positives, 1 failed (NotChecked: 1),
  // 1234.5 checks per second"
  std::string text() const;
};

// Reads every non-blank line of requests, checks them on jobs instances of
// the session's loaded checker, each in a thread of its own, and writes one
// result line per request to results, in the order of the requests, each as
// soon as those before it are written. With progress, a progress line is
// kept on the console.
BatchSummary runBatch(PluginSession& session, std::istream& requests, std::ostream& results,
                      unsigned jobs, Console* progress);

}  // namespace fpcheck
