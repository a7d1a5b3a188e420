// The test program's side of the test checker SDK: scripts its answers and
// records what it receives.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fpcsdk/fpcsdk.h"
#include "tests/sdk/test_sdk_control.h"

namespace kesp::test {

class FakeSdk final : public TestSdkControl {
 public:
  // The one control object of the test program; reset() it per test.
  static FakeSdk& instance();

  void reset();
  void setResult(SdkOp op, std::int32_t code);
  // None: a successful check writes no verdict.
  void setVerdict(std::optional<bool> verdict);
  // The line the SDK writes when its library is unloaded; empty for none.
  void setLineAtUnload(const std::string& line);

  std::vector<std::string> events() const;
  void clearEvents();
  std::vector<fpcsdk::FPCConfig> configs() const;
  std::vector<std::pair<std::string, std::string>> proxies() const;
  std::vector<fpcsdk::DetectionInput> detections() const;
  fpcsdk::LogInterface* logInterface() const;

  // Makes every checkDetection wait in onCheck until releaseChecks().
  void holdChecks();
  // Waits until count checks are waiting (or 10 s pass); true if they are.
  bool waitForHeldChecks(int count);
  void releaseChecks();
  // The same gate for one event of the SDK (for example
  // "destroyFpcInstance"): the SDK call that reports it waits, right after
  // reporting, until releaseEvent().
  void holdEvent(const std::string& event);
  bool waitForHeldEvent();
  void releaseEvent();

  // TestSdkControl, called by the test SDK.
  std::int32_t resultOf(SdkOp op) override;
  std::optional<bool> verdict() override;
  const char* lineAtUnload() override;
  void onEvent(const char* event) override;
  void onCreate(fpcsdk::LogInterface* log) override;
  void onInitialize(const fpcsdk::FPCConfig& config) override;
  void onSetProxy(const std::string& proxy, const std::string& certificatePath) override;
  void onCheck(const fpcsdk::DetectionInput& input) override;

 private:
  FakeSdk() = default;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::array<std::int32_t, static_cast<std::size_t>(SdkOp::Count)> results_{};
  std::optional<bool> verdict_ = false;
  std::string lineAtUnload_;
  std::vector<std::string> events_;
  std::vector<fpcsdk::FPCConfig> configs_;
  std::vector<std::pair<std::string, std::string>> proxies_;
  std::vector<fpcsdk::DetectionInput> detections_;
  fpcsdk::LogInterface* log_ = nullptr;
  bool holding_ = false;
  int held_ = 0;
  std::string heldEvent_;
  int heldEvents_ = 0;
};

}  // namespace kesp::test
