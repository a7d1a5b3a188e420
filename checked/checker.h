// The checked checker and its configuration.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "checked/tracked.h"
#include "kesp/checker.h"

namespace kesp::checked {

namespace fp = plugins::fpchecker;

class CheckedChecker;

// Part of its checker, sharing the checker's gate.
class CheckedConfig final : public fp::GlobalConfigV1 {
 public:
  explicit CheckedConfig(CheckedChecker& checker) noexcept : checker_(checker) {}

  void setApiVersion(std::uint32_t major, std::uint32_t minor) override;
  fp::Status setBaseDirectory(const char* directory) override;
  fp::Status setCustomOption(const plugins::GenericData* option) override;
  void reset() override;

  // The real configuration, learnt from the real checker when the host asks
  // for this one.
  std::atomic<fp::GlobalConfigV1*> real{nullptr};

 private:
  CheckedChecker& checker_;
};

class CheckedChecker final : public fp::CheckerV1, public Tracked {
 public:
  explicit CheckedChecker(std::shared_ptr<Session> session) noexcept
      : Tracked(std::move(session), Kind::Checker) {}
  void attach(fp::CheckerV1* real) noexcept { real_ = real; }

  void release() override;
  fp::GlobalConfigV1* getConfig() override;
  fp::Status load() override;
  const fp::CheckerInfo* getInfo() override;
  fp::Status sendCommand(const fp::CheckerCommand* command) override;
  fp::Status createInstance(fp::InstanceV1** instance) override;
  fp::Status unload() override;

  // A call that must run alone on the checker (mode ExclusiveBlockingJobs or
  // Release) and not beside a job on one of its instances. Writes the
  // number of its instances to instances when given.
  Call enterAlone(Facet facet, Operation operation, CallGate::Mode mode,
                  std::uint64_t* instances = nullptr) noexcept;

 private:
  fp::CheckerV1* real_ = nullptr;
  CheckedConfig config_{*this};
};

}  // namespace kesp::checked
