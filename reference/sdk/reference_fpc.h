// The reference checker SDK object and its instances: verdicts from the
// cloud service of the cloud URL, or, for a file: cloud URL, from that rules
// file without any network.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>

#include "reference/rules/rules.h"
#include "reference/sdk/cloud_client.h"
#include "reference/sdk/http_transport.h"
#include "fpcsdk/codes.h"
#include "reference/sdk/sdk_log.h"
#include "fpcsdk/fpcsdk.h"

namespace vfpcsdk {

// The cloud URL's prefix that chooses the offline decider: "file:<rules
// file>", a relative path being relative to this library's directory.
inline constexpr char kOfflineScheme[] = "file:";

// One checking context. It keeps the rules it was made with, or its own
// client of the cloud service, so a check needs no lock in the common case
// and never sees another instance's state.
class ReferenceInstance final : public fpcsdk::FPCInstance {
 public:
  ReferenceInstance(std::shared_ptr<const RuleSet> rules, SdkLog log) noexcept
      : rules_(std::move(rules)), log_(log) {}
  ReferenceInstance(std::shared_ptr<CloudService> cloud, SdkLog log)
      : client_(std::make_unique<CloudClient>(std::move(cloud))), log_(log) {}
  ~ReferenceInstance() = default;

  std::int32_t checkDetection(const fpcsdk::DetectionInput& input, bool* isFalsePositive) override;

 private:
  std::int32_t decideOffline(const fpcsdk::DetectionInput& input, bool& falsePositive) const;

  std::shared_ptr<const RuleSet> rules_;
  std::unique_ptr<CloudClient> client_;
  SdkLog log_;
};

// States: created, initialized (rules read, settings accepted), and back to
// created by uninitialize. One mutex guards the state, so every operation may
// come from any thread; checks run on the instances without it.
class ReferenceFpc final : public fpcsdk::FPC {
 public:
  // log may be null.
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
  // The rules of the file a file: cloud URL names, or the code of the
  // failure (already logged).
  std::int32_t readRules(const std::string& name, std::shared_ptr<const RuleSet>& rules) const;
  std::int32_t startCloud(const fpcsdk::FPCConfig& config);

  SdkLog log_;
  mutable std::mutex mutex_;
  bool initialized_ = false;
  // Held while the object talks to a network service; declared before
  // everything that may hold a connection, so that it is released last.
  std::optional<HttpStackHold> stack_;
  std::shared_ptr<const RuleSet> rules_;    // the offline decider's
  std::shared_ptr<CloudService> cloud_;     // or the service's
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
