// The clauses of fpcsdk-conform: each checks one rule of the checker SDK
// interface, in a process of its own. A clause ends by returning (pass) or
// by throwing ClauseFailure or ClauseSkipped; a crash or a hang is the kit's
// to report.
#pragma once

#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "tools/conform/clause_report.h"
#include "tools/conform/settings.h"

namespace conform {

struct ClauseContext {
  const Settings& settings;
  // The --cases, or the kit's probes, whose verdicts are not known.
  const std::vector<Case>& cases;
  bool knownAnswers;
  ClauseReport& report;
};

struct Clause {
  const char* id;
  const char* text;  // one line, for --list
  void (*run)(ClauseContext& context);
  // The kit fails the clause when its process wrote to standard output or
  // error.
  bool judgesOutput = false;
};

std::span<const Clause> clauses();

// body(thread) on count threads at once. What a thread throws fails the
// clause, the lowest thread's first, so that a fault every thread meets is
// named the same way every run.
void runOnThreads(unsigned count, const std::function<void(unsigned thread)>& body);
const Clause* findClause(std::string_view id);

// Through the plug-in, as a host meets the SDK (plugin_clause.cpp).
void checkThroughThePlugin(ClauseContext& context);

}  // namespace conform
