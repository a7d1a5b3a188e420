// A checker SDK for the benchmarks. It answers every call with success and
// does no bookkeeping of its own, so that the time around a check is the
// plug-in's and the benchmark's, not the stand-in's.
//
// BENCH_SDK_WORK_ROUNDS, when defined, gives checkDetection a fixed amount of
// arithmetic to do (about a microsecond), the stand-in for the work of a real
// SDK when the benchmarks compare one thread with two.
#include <cstdint>
#include <string>

#include "fpcsdk/fpcsdk.h"

#if defined(_WIN32)
#define BENCH_SDK_EXPORT extern "C" __declspec(dllexport)
#else
#define BENCH_SDK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

class BenchInstance final : public fpcsdk::FPCInstance {
 public:
  std::int32_t checkDetection(const fpcsdk::DetectionInput& input,
                              bool* isFalsePositive) override {
    // The verdict depends on the record, so that a benchmark can tell that
    // a complete record arrived: it reads true only for a named detection of
    // a known size.
    bool verdict = input.fileSize != 0 && !input.detectionName.empty();
#if defined(BENCH_SDK_WORK_ROUNDS)
    // A dependent chain of multiplications: it cannot be vectorised or cut
    // short, and it touches no memory that another thread writes.
    std::uint64_t state = input.fileSize + input.detectionName.size();
    for (int round = 0; round < BENCH_SDK_WORK_ROUNDS; ++round) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      state ^= state >> 29;
    }
    verdict = verdict && state != 0x5eedull;
#endif
    *isFalsePositive = verdict;
    return 0;
  }
};

class BenchFpc final : public fpcsdk::FPC {
 public:
  std::int32_t initialize(const fpcsdk::FPCConfig&) override { return 0; }
  std::int32_t createFpcInstance(fpcsdk::FPCInstance** instance) override {
    *instance = new BenchInstance();
    return 0;
  }
  std::int32_t destroyFpcInstance(fpcsdk::FPCInstance* instance) override {
    delete static_cast<BenchInstance*>(instance);
    return 0;
  }
  std::int32_t setProxy(const std::string&, const std::string&) override { return 0; }
  std::int32_t uninitialize() override { return 0; }
  std::int32_t reserved() override { return 0; }
  std::int32_t threadCleanup() override { return 0; }
};

}  // namespace

BENCH_SDK_EXPORT std::int32_t FPCCreate(fpcsdk::LogInterface*, fpcsdk::FPC** fpc) {
  *fpc = new BenchFpc();
  return 0;
}

BENCH_SDK_EXPORT void FPCDestroy(fpcsdk::FPC* fpc) { delete static_cast<BenchFpc*>(fpc); }
