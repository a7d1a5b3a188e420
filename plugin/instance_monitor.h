// Lets one job at a time run on an instance, and refuses, without waiting,
// a job that arrives while another runs.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/scope_guard.h"

namespace kesp::plugins {

class InstanceMonitor {
 public:
  enum class Job : std::uint32_t {
    None = 0,
    Scan = 1,
    Check = 2,
    SetFops = 3,
    RegisterCallback = 4,
  };

  static const char* jobText(Job job) noexcept;

  // Claims the instance for job with one compare-and-exchange. Throws
  // plx::Exception naming both jobs when another job holds it. The returned
  // guard frees the instance when it is destroyed.
  plx::ScopeGuard assignJob(Job job);

  Job currentJob() const noexcept { return currentJob_.load(); }

 private:
  std::atomic<Job> currentJob_{Job::None};
};

}  // namespace kesp::plugins
