// The reference checker SDK object and its instances: verdicts from a local
// rules file, no network.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

#include "rules/rules.h"
#include "sdk/sdk_codes.h"
#include "sdk/sdk_log.h"
#include "sdk_bridge/fpcsdk.h"

namespace vfpcsdk {

// The name of the rules file in the library's own directory.
inline constexpr char kRulesFileName[] = "vfpcsdk.rules";

// One checking context. It keeps the rules it was made with, so a check needs
// no lock and never sees another instance's state.
class ReferenceInstance final : public fpcsdk::FPCInstance {
 public:
  ReferenceInstance(std::shared_ptr<const RuleSet> rules, SdkLog log) noexcept
      : rules_(std::move(rules)), log_(log) {}
  ~ReferenceInstance() = default;

  std::int32_t checkDetection(const fpcsdk::DetectionInput& input, bool* isFalsePositive) override;

 private:
  std::shared_ptr<const RuleSet> rules_;
  SdkLog log_;
};

// States: created, initialized (rules read, settings accepted), and back to
// created by uninitialize. One mutex guards the state, so every operation may
// come from any thread; checks run on the instances without it.
class ReferenceFpc final : public fpcsdk::FPC {
 public:
  // log may be null. The rules file is looked for at initialize, in the
  // directory of this library.
  explicit ReferenceFpc(fpcsdk::LogInterface* log) noexcept : log_(log) {}
  ~ReferenceFpc();
  ReferenceFpc(const ReferenceFpc&) = delete;
  ReferenceFpc& operator=(const ReferenceFpc&) = delete;

  std::int32_t initialize(const fpcsdk::FPCConfig& config) override;
  std::int32_t createFpcInstance(fpcsdk::FPCInstance** instance) override;
  std::int32_t destroyFpcInstance(fpcsdk::FPCInstance* instance) override;
  std::int32_t setProxy(const std::string& proxy, const std::string& certificatePath) override;
  std::int32_t uninitialize() override;
  std::int32_t reserved() override;
  std::int32_t threadCleanup() override;

 private:
  std::int32_t checkSettings(const fpcsdk::FPCConfig& config) const;
  // The rules of the file beside the library, or the code of the failure
  // (already logged).
  std::int32_t readRules(std::shared_ptr<const RuleSet>& rules) const;

  SdkLog log_;
  mutable std::mutex mutex_;
  bool initialized_ = false;
  std::shared_ptr<const RuleSet> rules_;
  std::string proxy_;
  std::string certificatePath_;
  std::unordered_map<fpcsdk::FPCInstance*, std::unique_ptr<ReferenceInstance>> instances_;
};

// Runs body and turns whatever it throws into a code: memory exhaustion into
// OutOfMemory, anything else into CloudError after one error line. No
// exception leaves the SDK.
template <class Body>
std::int32_t guarded(const SdkLog& log, const char* operation, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return OutOfMemory;
  } catch (const std::exception& error) {
    log.write(LevelError, [&] { return std::string(operation) + " failed: " + error.what(); });
  } catch (...) {
    log.write(LevelError, [&] { return std::string(operation) + " failed: unknown exception"; });
  }
  return CloudError;
}

}  // namespace vfpcsdk
