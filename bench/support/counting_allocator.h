// Counts every allocation through the global operator new of the benchmark
// program, the plug-in library's included: the program replaces the global
// operators, and a library loaded later resolves them to the program's.
#pragma once

#include <cstdint>

namespace kesp::bench {

// Allocations made on the calling thread since it started. Per thread, so
// that counting adds no shared write to benchmarks that run on two threads.
std::uint64_t threadAllocations() noexcept;

// Counts the allocations of the calling thread from construction on.
class AllocationCounter {
 public:
  AllocationCounter() noexcept : start_(threadAllocations()) {}
  std::uint64_t count() const noexcept { return threadAllocations() - start_; }

 private:
  std::uint64_t start_;
};

}  // namespace kesp::bench
