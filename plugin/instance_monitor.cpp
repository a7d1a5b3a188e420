#include "plugin/instance_monitor.h"

#include <string>

#include "foundation/exceptions.h"

namespace kesp::plugins {

const char* InstanceMonitor::jobText(Job job) noexcept {
  switch (job) {
    case Job::None: return "none";
    case Job::Scan: return "scan";
    case Job::Check: return "check";
    case Job::SetFops: return "setFops";
    case Job::RegisterCallback: return "registerCallback";
  }
  return "N/A";
}

plx::ScopeGuard InstanceMonitor::assignJob(Job job) {
  // Made before the claim: once claimed, nothing may fail before the guard
  // that frees the instance again exists.
  plx::ScopeGuard release([this] { currentJob_.exchange(Job::None); });
  Job running = Job::None;
  if (!currentJob_.compare_exchange_strong(running, job)) {
    release.dismiss();
    throw plx::Exception(std::string("Cannot perform '") + jobText(job) +
                         "', instance is busy with '" + jobText(running) + "'");
  }
  return release;
}

}  // namespace kesp::plugins
