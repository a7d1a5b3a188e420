#include "bench/support/ratio_reporter.h"

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <utility>

namespace kesp::bench {

namespace {

constexpr char kAllocationsCounter[] = "allocs";
constexpr char kItemsCounter[] = "items_per_second";

double counter(const benchmark::BenchmarkReporter::Run& run, const char* name, double fallback) {
  const auto found = run.counters.find(name);
  return found != run.counters.end() ? found->second.value : fallback;
}

std::string formatTime(double nanoseconds) {
  char text[32];
  if (nanoseconds >= 1e6) {
    std::snprintf(text, sizeof text, "%.3g ms", nanoseconds / 1e6);
  } else if (nanoseconds >= 1e4) {
    std::snprintf(text, sizeof text, "%.4g us", nanoseconds / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.4g ns", nanoseconds);
  }
  return text;
}

std::string formatRate(double itemsPerSecond) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g M/s", itemsPerSecond / 1e6);
  return text;
}

std::string formatNumber(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

RatioReporter::RatioReporter(std::vector<Comparison> comparisons)
    : benchmark::ConsoleReporter(OO_Tabular), comparisons_(std::move(comparisons)) {}

void RatioReporter::ReportRuns(const std::vector<Run>& runs) {
  for (const Run& run : runs) {
    const std::string name = run.run_name.str();
    if (run.error_occurred) {
      failures_.push_back(name + ": " + run.error_message);
      continue;
    }
    const double nanoseconds =
        run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    Figures& figures = figures_[name];
    if (run.run_type == Run::RT_Aggregate) {
      if (run.aggregate_name == "median") {
        figures.haveMedian = true;
        figures.medianNanoseconds = nanoseconds;
        figures.medianItemsPerSecond = counter(run, kItemsCounter, 0);
        figures.medianAllocations = counter(run, kAllocationsCounter, -1);
      }
      continue;
    }
    ++figures.samples;
    figures.nanoseconds.push_back(nanoseconds);
    figures.itemsPerSecond.push_back(counter(run, kItemsCounter, 0));
    figures.allocations.push_back(counter(run, kAllocationsCounter, -1));
  }
  ConsoleReporter::ReportRuns(runs);
}

double RatioReporter::median(const Figures& figures, double Figures::*aggregate,
                             std::vector<double> Figures::*samples) {
  if (figures.haveMedian) return figures.*aggregate;
  std::vector<double> values = figures.*samples;
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void RatioReporter::Finalize() {
  std::ostream& out = GetOutputStream();
  out << "\nAgainst the floor (medians of this run; allocs = allocations per iteration)\n";
  char header[200];
  std::snprintf(header, sizeof header, "%-44s %12s %7s %12s %7s %8s %10s  %s\n", "comparison",
                "measured", "allocs", "floor", "allocs", "ratio", "target", "verdict");
  out << header << std::string(118, '-') << '\n';
  for (const Comparison& comparison : comparisons_) {
    const auto measured = figures_.find(comparison.measured);
    const auto floor = comparison.floor != nullptr ? figures_.find(comparison.floor) : figures_.end();
    if (measured == figures_.end() ||
        (comparison.kind != Comparison::Kind::Information && floor == figures_.end())) {
      continue;  // filtered out of this run
    }
    const bool throughput = comparison.kind == Comparison::Kind::ThroughputRatio;
    auto value = [&](const Figures& figures) {
      return throughput ? median(figures, &Figures::medianItemsPerSecond, &Figures::itemsPerSecond)
                        : median(figures, &Figures::medianNanoseconds, &Figures::nanoseconds);
    };
    auto show = [&](double figure) { return throughput ? formatRate(figure) : formatTime(figure); };
    auto allocations = [&](const Figures& figures) {
      const double count =
          median(figures, &Figures::medianAllocations, &Figures::allocations);
      return count < 0 ? std::string("-") : formatNumber("%.2f", count);
    };

    const double measuredValue = value(measured->second);
    std::string floorText = "-", floorAllocations = "-", ratioText = "-", targetText = "-";
    std::string verdict = "information";
    if (comparison.kind != Comparison::Kind::Information) {
      const double floorValue = value(floor->second);
      const double ratio = floorValue > 0 ? measuredValue / floorValue : 0;
      floorText = show(floorValue);
      floorAllocations = allocations(floor->second);
      ratioText = formatNumber("%.3f", ratio);
      if (comparison.target > 0) {
        targetText = formatNumber(throughput ? ">= %.2f" : "<= %.2f", comparison.target);
        const bool met = throughput ? ratio >= comparison.target : ratio <= comparison.target;
        verdict = met ? "met" : "MISSED";
      }
    }
    char line[256];
    std::snprintf(line, sizeof line, "%-44s %12s %7s %12s %7s %8s %10s  %s\n", comparison.label,
                  show(measuredValue).c_str(), allocations(measured->second).c_str(),
                  floorText.c_str(), floorAllocations.c_str(), ratioText.c_str(),
                  targetText.c_str(), verdict.c_str());
    out << line;
  }
  for (const std::string& failure : failures_) out << "FAILED " << failure << '\n';
  ConsoleReporter::Finalize();
}

}  // namespace kesp::bench
