// The results of a run as JUnit XML, the report CI systems read: one test
// case per clause, its reason as the failure or skip message, the clause
// process's standard output and error beside it.
#pragma once

#include <string>
#include <vector>

#include "tools/conform/clause_report.h"

namespace conform {

struct ClauseRecord {
  std::string id;
  ClauseResult result;
  double seconds = 0;
  std::string out;  // the clause's process: standard output
  std::string err;  // and standard error
};

// Throws std::runtime_error when the file cannot be written.
void writeJunit(const std::string& file, const std::vector<ClauseRecord>& records);

}  // namespace conform
