#include "tests/support/fake_sdk.h"

#include <chrono>

#if defined(_WIN32)
#define KESP_TEST_EXPORT extern "C" __declspec(dllexport)
#else
#define KESP_TEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Found by the test SDK in the test program's own export table.
KESP_TEST_EXPORT kesp::test::TestSdkControl* kespTestSdkControl() {
  return &kesp::test::FakeSdk::instance();
}

namespace kesp::test {

FakeSdk& FakeSdk::instance() {
  static FakeSdk sdk;
  return sdk;
}

void FakeSdk::reset() {
  const std::lock_guard lock(mutex_);
  results_.fill(0);
  verdict_ = false;
  lineAtUnload_.clear();
  events_.clear();
  configs_.clear();
  proxies_.clear();
  detections_.clear();
  log_ = nullptr;
  holding_ = false;
  held_ = 0;
  heldEvent_.clear();
  heldEvents_ = 0;
  changed_.notify_all();
}

void FakeSdk::setResult(SdkOp op, std::int32_t code) {
  const std::lock_guard lock(mutex_);
  results_[static_cast<std::size_t>(op)] = code;
}

void FakeSdk::setVerdict(std::optional<bool> verdict) {
  const std::lock_guard lock(mutex_);
  verdict_ = verdict;
}

void FakeSdk::setLineAtUnload(const std::string& line) {
  const std::lock_guard lock(mutex_);
  lineAtUnload_ = line;
}

std::vector<std::string> FakeSdk::events() const {
  const std::lock_guard lock(mutex_);
  return events_;
}

void FakeSdk::clearEvents() {
  const std::lock_guard lock(mutex_);
  events_.clear();
}

std::vector<fpcsdk::FPCConfig> FakeSdk::configs() const {
  const std::lock_guard lock(mutex_);
  return configs_;
}

std::vector<std::pair<std::string, std::string>> FakeSdk::proxies() const {
  const std::lock_guard lock(mutex_);
  return proxies_;
}

std::vector<fpcsdk::DetectionInput> FakeSdk::detections() const {
  const std::lock_guard lock(mutex_);
  return detections_;
}

fpcsdk::LogInterface* FakeSdk::logInterface() const {
  const std::lock_guard lock(mutex_);
  return log_;
}

void FakeSdk::holdChecks() {
  const std::lock_guard lock(mutex_);
  holding_ = true;
}

bool FakeSdk::waitForHeldChecks(int count) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return held_ >= count; });
}

void FakeSdk::releaseChecks() {
  const std::lock_guard lock(mutex_);
  holding_ = false;
  changed_.notify_all();
}

void FakeSdk::holdEvent(const std::string& event) {
  const std::lock_guard lock(mutex_);
  heldEvent_ = event;
}

bool FakeSdk::waitForHeldEvent() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return heldEvents_ > 0; });
}

void FakeSdk::releaseEvent() {
  const std::lock_guard lock(mutex_);
  heldEvent_.clear();
  changed_.notify_all();
}

std::int32_t FakeSdk::resultOf(SdkOp op) {
  const std::lock_guard lock(mutex_);
  return results_[static_cast<std::size_t>(op)];
}

std::optional<bool> FakeSdk::verdict() {
  const std::lock_guard lock(mutex_);
  return verdict_;
}

const char* FakeSdk::lineAtUnload() {
  // Called while the library unloads, when no test changes the line.
  const std::lock_guard lock(mutex_);
  return lineAtUnload_.empty() ? nullptr : lineAtUnload_.c_str();
}

void FakeSdk::onEvent(const char* event) {
  std::unique_lock lock(mutex_);
  events_.emplace_back(event);
  if (heldEvent_.empty() || heldEvent_ != event) return;
  ++heldEvents_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return heldEvent_.empty(); });
  --heldEvents_;
}

void FakeSdk::onCreate(fpcsdk::LogInterface* log) {
  const std::lock_guard lock(mutex_);
  log_ = log;
}

void FakeSdk::onInitialize(const fpcsdk::FPCConfig& config) {
  const std::lock_guard lock(mutex_);
  configs_.push_back(config);
}

void FakeSdk::onSetProxy(const std::string& proxy, const std::string& certificatePath) {
  const std::lock_guard lock(mutex_);
  proxies_.emplace_back(proxy, certificatePath);
}

void FakeSdk::onCheck(const fpcsdk::DetectionInput& input) {
  std::unique_lock lock(mutex_);
  detections_.push_back(input);
  if (!holding_) return;
  ++held_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return !holding_; });
  --held_;
}

}  // namespace kesp::test
