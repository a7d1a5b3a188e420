#include "reference/cloud/fault_plan.h"

#include <vector>

namespace fpcloud {

const char* Fault::name() const {
  if (drop) return "drop";
  if (status) return "status";
  return "delay";
}

FaultPlan::FaultPlan(FaultSettings settings)
    : settings_(std::move(settings)), random_(settings_.seed) {}

Fault FaultPlan::next() {
  if (!settings_.any()) return {};
  std::lock_guard lock(mutex_);
  ++seen_;
  if (settings_.count && seen_ > *settings_.count) return {};
  // A share of 1 takes every request without drawing, so that --fault-count
  // alone does what it says whatever the seed.
  if (settings_.share < 1.0 &&
      std::uniform_real_distribution<double>(0.0, 1.0)(random_) >= settings_.share)
    return {};
  Fault all{settings_.delayMs, settings_.status, settings_.drop};
  if (!settings_.mix) return all;
  std::vector<Fault> each;
  if (all.delayMs > 0) each.push_back({all.delayMs, std::nullopt, false});
  if (all.status) each.push_back({0, all.status, false});
  if (all.drop) each.push_back({0, std::nullopt, true});
  return each[std::uniform_int_distribution<std::size_t>(0, each.size() - 1)(random_)];
}

}  // namespace fpcloud
