// One check through the loaded plug-in library, for a buffer in memory and
// for a file on disk, each beside the least work that such a check needs.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "bench/support/bench_checks.h"
#include "fops/fops_default.h"
#include "foundation/log_adapter.h"

namespace kesp::bench {
namespace {

// The buffer a scanner found the detection in; the SDK receives its size only.
constexpr std::uint64_t kBufferSize = 4096;
alignas(64) const char kBuffer[kBufferSize] = {};

// A file of the size of a small executable.
constexpr std::uint64_t kFileSize = 4096;

void memoryCheckThroughPlugin(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    BenchHost host;
    LoadedChecker loaded(host, "instant");
    const auto instance = host.instance(loaded.checker());
    const HostPtr<fp::MemoryFileInputV1> input(
        static_cast<fp::MemoryFileInputV1*>(instance->createInput(1)));
    const SampleDetection sample;
    if (!input || !describeDetection(*input, sample) ||
        input->setBuffer(kBuffer, kBufferSize) != fp::Status::Success) {
      state.SkipWithError(("memory input refused: " + host.log.lastLine()).c_str());
      return;
    }
    const std::uint64_t budget = directCheckAllocations(sample, "", kBufferSize);
    const std::uint64_t allocations = runChecks(state, host.log, *instance, *input);
    // The record's strings and maps and the output object, nothing more.
    expectAllocationsAtMost(state, allocations, budget);
  });
}
BENCHMARK(memoryCheckThroughPlugin)->Name("MemoryCheck/plugin");

void memoryCheckFloor(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    DirectSdk sdk("instant");
    runDirectChecks(state, sdk.instance(), SampleDetection{}, "", kBufferSize);
  });
}
BENCHMARK(memoryCheckFloor)->Name("MemoryCheck/floor");

void fileCheckThroughPlugin(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    const SampleFile file(kFileSize);
    BenchHost host;
    LoadedChecker loaded(host, "instant");
    const auto instance = host.instance(loaded.checker());
    const HostPtr<fp::FileInputV1> input(static_cast<fp::FileInputV1*>(instance->createInput(0)));
    const SampleDetection sample;
    if (!input || !describeDetection(*input, sample) ||
        input->setPath(file.path().c_str()) != fp::Status::Success) {
      state.SkipWithError(("file input refused: " + host.log.lastLine()).c_str());
      return;
    }
    // Beyond the record and the output: the file object that the
    // file-operations interface hands out, and the name it keeps.
    const std::uint64_t budget = directCheckAllocations(sample, file.path(), kFileSize) + 2;
    const std::uint64_t allocations = runChecks(state, host.log, *instance, *input);
    expectAllocationsAtMost(state, allocations, budget);
  });
}
BENCHMARK(fileCheckThroughPlugin)->Name("FileCheck/plugin");

// The system calls that learn a file's size, in three degrees:
enum class SizeCalls {
  // open, fstat, close: without which nobody learns it.
  Plain,
  // with the lock that makes the open exclusive, as the default file
  // operations must (the Win32 share mode 0); one fstat both refuses a
  // directory and gives the size.
  Exclusive,
  // call for call what the default file operations make: the exclusive open
  // (which refuses a directory by its fstat), then the size (fstat), then
  // the close.
  CallForCall,
};

template <SizeCalls calls>
bool sizeBySystemCalls(const char* path, std::uint64_t* size) {
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  struct stat status {};
  bool done = ::fstat(descriptor, &status) == 0 && !S_ISDIR(status.st_mode);
  if constexpr (calls != SizeCalls::Plain) {
    done = done && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
  }
  if constexpr (calls == SizeCalls::CallForCall) done = done && ::fstat(descriptor, &status) == 0;
  ::close(descriptor);
  *size = static_cast<std::uint64_t>(status.st_size);
  return done;
}

template <SizeCalls calls>
void fileSizeFloor(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    const SampleFile file(kFileSize);
    const AllocationCounter allocations;
    for (auto _ : state) {
      std::uint64_t size = 0;
      if (!sizeBySystemCalls<calls>(file.path().c_str(), &size) || size != kFileSize) {
        state.SkipWithError("the system calls did not give the file's size");
        break;
      }
    }
    reportAllocations(state, allocations.count());
  });
}
BENCHMARK(fileSizeFloor<SizeCalls::Plain>)->Name("FileCheck/floor_open_fstat_close");
BENCHMARK(fileSizeFloor<SizeCalls::Exclusive>)->Name("FileCheck/floor_open_fstat_flock_close");
BENCHMARK(fileSizeFloor<SizeCalls::CallForCall>)
    ->Name("FileCheck/floor_open_fstat_flock_fstat_close");

// The whole of a file check at its least: the size, the record, the output
// object and the SDK call.
template <SizeCalls calls>
void fileCheckFloor(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    const SampleFile file(kFileSize);
    DirectSdk sdk("instant");
    const SampleDetection sample;
    bool everyVerdictSet = true;
    const AllocationCounter allocations;
    for (auto _ : state) {
      std::uint64_t size = 0;
      if (!sizeBySystemCalls<calls>(file.path().c_str(), &size)) {
        state.SkipWithError("the system calls did not give the file's size");
        break;
      }
      fpcsdk::DetectionInput record;
      buildRecord(sample, file.path(), size, record);
      const auto output = std::make_unique<DirectOutput>();
      if (sdk.instance().checkDetection(record, &output->isFalsePositive) != 0) {
        state.SkipWithError("checkDetection failed");
        break;
      }
      everyVerdictSet &= output->isFalsePositive;
    }
    reportAllocations(state, allocations.count());
    if (!everyVerdictSet) state.SkipWithError("the SDK did not receive a complete record");
  });
}
BENCHMARK(fileCheckFloor<SizeCalls::Exclusive>)->Name("FileCheck/floor_exclusive_with_record");
BENCHMARK(fileCheckFloor<SizeCalls::CallForCall>)
    ->Name("FileCheck/floor_call_for_call_with_record");

// The default file operations alone, as the check uses them: create a file
// object, ask its size, release it.
void fileSizeThroughDefaultFops(benchmark::State& state) {
  guardedBenchmark(state, [&] {
    const SampleFile file(kFileSize);
    BenchHostLog hostLog(0);
    kesp::LogAdapter adapter(&hostLog);
    const plx::Logger logger(&adapter);
    FopsFactoryDefault factory(logger, 5, 0);
    const AllocationCounter allocations;
    for (auto _ : state) {
      FopsFileV1* const opened = factory.createFopsFile(file.path().c_str(), nullptr);
      std::uint64_t size = 0;
      const bool sized = opened != nullptr && opened->size(&size);
      factory.releaseFopsFile(opened);
      if (!sized || size != kFileSize) {
        state.SkipWithError(("size through the default file operations failed: " +
                             hostLog.lastLine())
                                .c_str());
        break;
      }
    }
    const std::uint64_t count = allocations.count();
    reportAllocations(state, count);
    expectNoLogLines(state, hostLog, 0);
    // The file object and its name.
    expectAllocationsAtMost(state, count, 2);
  });
}
BENCHMARK(fileSizeThroughDefaultFops)->Name("FileCheck/default_fops_size");

}  // namespace
}  // namespace kesp::bench
