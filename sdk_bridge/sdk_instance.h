// One instance of the checker SDK, where a detection check happens.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/logger.h"
#include "kesp/checker.h"
#include "kesp/fops.h"
#include "sdk_bridge/fops_bridge.h"
#include "fpcsdk/fpcsdk.h"

namespace kesp::plugins::fpchecker {

class VfpcSdkInstance {
 public:
  virtual ~VfpcSdkInstance() = default;
  // Uses the host's factory (borrowed) from now on; always Success.
  virtual Status registerUserFopsFactory(FopsFactoryV1* factory) = 0;
  // A new empty input of the given type, owned by the caller; null otherwise.
  virtual InputV1* createInput(std::uint32_t type) = 0;
  // Checks a non-null input; on Success *output holds a new output object.
  virtual Status check(InputV1* input, OutputV1** output) = 0;
};

class VfpcSdkInstanceImpl final : public VfpcSdkInstance {
 public:
  // Throws kesp::InternalException for a null fpc and kesp::ErrorCodeException
  // (with the mapped status) when the SDK refuses an instance. fpc must stay
  // alive until this object is destroyed.
  VfpcSdkInstanceImpl(const plx::Logger& logger, fpcsdk::FPC* fpc);

  Status registerUserFopsFactory(FopsFactoryV1* factory) override;
  InputV1* createInput(std::uint32_t type) override;
  Status check(InputV1* input, OutputV1** output) override;

 private:
  // Destroys the SDK instance through the FPC object that made it, logging a
  // refusal; never throws.
  class FpcInstanceDisposal {
   public:
    FpcInstanceDisposal(fpcsdk::FPC* fpc, const plx::LogChannel& log) noexcept
        : fpc_(fpc), log_(log) {}
    void operator()(fpcsdk::FPCInstance* instance) const noexcept;

   private:
    fpcsdk::FPC* fpc_;
    plx::LogChannel log_;
  };

  // Declaration order matters: the SDK instance is destroyed before the
  // file-operations factory.
  FopsFactoryHolder fopsFactory_;
  const plx::Logger* logger_;
  plx::LogChannel log_;
  std::unique_ptr<fpcsdk::FPCInstance, FpcInstanceDisposal> fpcInstance_;
};

}  // namespace kesp::plugins::fpchecker
