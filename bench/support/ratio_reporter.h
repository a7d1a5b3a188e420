// The console table of Google Benchmark, followed by the comparisons that
// the benchmarks exist for: each measured figure against its floor, taken
// from the same run (the median of the repetitions when there are several).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace kesp::bench {

struct Comparison {
  enum class Kind {
    // measured time / floor time; the target is a maximum.
    TimeRatio,
    // measured items per second / baseline items per second; the target is
    // a minimum.
    ThroughputRatio,
    // measured time alone, with no target.
    Information,
  };
  const char* label;
  const char* measured;  // a run name as the console table shows it
  const char* floor;     // null for Information
  Kind kind;
  double target;
};

class RatioReporter final : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<Comparison> comparisons);

  void ReportRuns(const std::vector<Run>& runs) override;
  void Finalize() override;

  // Runs that ended with SkipWithError, each as "name: message".
  const std::vector<std::string>& failures() const noexcept { return failures_; }

 private:
  struct Figures {
    std::vector<double> nanoseconds;
    std::vector<double> itemsPerSecond;
    std::vector<double> allocations;
    // Set from the median aggregate when the library computed one.
    bool haveMedian = false;
    double medianNanoseconds = 0;
    double medianItemsPerSecond = 0;
    double medianAllocations = 0;
    int samples = 0;
  };

  // The figure's median: the library's aggregate, or the median of the runs.
  static double median(const Figures& figures, double Figures::*aggregate,
                       std::vector<double> Figures::*samples);

  std::vector<Comparison> comparisons_;
  std::map<std::string, Figures> figures_;
  std::vector<std::string> failures_;
};

}  // namespace kesp::bench
