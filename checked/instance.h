// The checked instance and its options.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "checked/checker.h"
#include "checked/tracked.h"
#include "kesp/checker.h"

namespace kesp::checked {

class CheckedInstance;

// Part of its instance, sharing the instance's gate.
class CheckedOptions final : public fp::OptionsV1 {
 public:
  explicit CheckedOptions(CheckedInstance& instance) noexcept : instance_(instance) {}
  fp::Status setCustomOption(const plugins::GenericData* option) override;

  // The real options, learnt when the host asks for these.
  std::atomic<fp::OptionsV1*> real{nullptr};

 private:
  CheckedInstance& instance_;
};

class CheckedInstance final : public fp::InstanceV1, public Tracked {
 public:
  // checker outlives the instance: released before it, it is kept forever.
  CheckedInstance(std::shared_ptr<Session> session, CheckedChecker& checker) noexcept
      : Tracked(std::move(session), Kind::Instance), checker_(checker) {}
  void attach(fp::InstanceV1* real) noexcept { real_ = real; }

  void release() override;
  fp::OptionsV1* getOptions() override;
  fp::Status setFops(FopsFactoryV1* factory) override;
  fp::InputV1* createInput(std::uint32_t type) override;
  fp::Status check(fp::InputV1* input, fp::OutputV1** output) override;

 private:
  // check or setFops: beside anything on the instance (the real instance
  // refuses a second job itself), never beside a configuration call or the
  // release of the checker.
  Call enterJob(Operation operation) noexcept;
  template <class Wrapper, class Real>
  fp::InputV1* createWrappedInput(std::uint32_t type) noexcept;
  fp::Status checkRealInput(fp::InputV1* input, fp::OutputV1** output) noexcept;

  fp::InstanceV1* real_ = nullptr;
  CheckedChecker& checker_;
  CheckedOptions options_{*this};
};

}  // namespace kesp::checked
