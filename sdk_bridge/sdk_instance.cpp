#include "sdk_bridge/sdk_instance.h"

#include <string>

#include "foundation/boundary.h"
#include "foundation/exceptions.h"
#include "fops/fops_default.h"
#include "sdk_bridge/check_input.h"
#include "foundation/plugin_log.h"
#include "sdk_bridge/input_translation.h"
#include "sdk_bridge/sdk_error.h"

namespace kesp::plugins::fpchecker {

namespace {

fpcsdk::FPCInstance* createFpcInstance(fpcsdk::FPC* fpc) {
  if (fpc == nullptr) {
    throw InternalException("VFPC object is null - cannot create an VFPC instance");
  }
  fpcsdk::FPCInstance* instance = nullptr;
  const std::int32_t code =
      callSdk("createFpcInstance", [&] { return fpc->createFpcInstance(&instance); });
  if (code != fpcsdk::Ok) {
    const std::string text = sdkErrorToString(code);
    throw ErrorCodeException(ErrorModuleFpChecker, "Failed to create VFPC SDK instance: " + text,
                             static_cast<std::int32_t>(sdkErrorToStatus(code)));
  }
  if (instance == nullptr) {
    throw InternalException("VFPC SDK reported success but created no VFPC instance");
  }
  return instance;
}

}  // namespace

void VfpcSdkInstanceImpl::FpcInstanceDisposal::operator()(
    fpcsdk::FPCInstance* instance) const noexcept {
  try {
    const std::int32_t code =
        callSdk("destroyFpcInstance", [&] { return fpc_->destroyFpcInstance(instance); });
    if (code != fpcsdk::Ok) {
      log_.format(plx::LogError, "Failed to destroy VFPC SDK instance: %s", sdkErrorToString(code));
    }
  } catch (...) {
    plx::logCurrentException(log_);
  }
}

VfpcSdkInstanceImpl::VfpcSdkInstanceImpl(const plx::Logger& logger, fpcsdk::FPC* fpc)
    : logger_(&logger),
      log_(pluginLog(logger)),
      fpcInstance_(nullptr, FpcInstanceDisposal(fpc, pluginLog(logger))) {
  // The default factory is made first: if that fails, no SDK instance exists
  // that would need undoing.
  fopsFactory_.installOwned(std::make_unique<FopsFactoryDefault>(logger, kLogModule, kLogFlags));
  fpcInstance_.reset(createFpcInstance(fpc));
}

Status VfpcSdkInstanceImpl::registerUserFopsFactory(FopsFactoryV1* factory) {
  fopsFactory_.installBorrowed(factory);
  return Status::Success;
}

InputV1* VfpcSdkInstanceImpl::createInput(std::uint32_t type) {
  switch (type) {
    case static_cast<std::uint32_t>(InputType::File):
      return std::make_unique<VfpcSdkFileInput>(*logger_).release();
    case static_cast<std::uint32_t>(InputType::MemoryFile):
      return std::make_unique<VfpcSdkMemoryFileInput>(*logger_).release();
    default:
      log_.format(plx::LogError, "Invalid input: type '%u' is invalid", type);
      return nullptr;
  }
}

Status VfpcSdkInstanceImpl::check(InputV1* input, OutputV1** output) {
  try {
    validateCheckInput(*input);
  } catch (const ErrorCodeException& error) {
    log_.format(plx::LogError, "%s", error.what());
    return static_cast<Status>(error.getErrorCode());
  }

  fpcsdk::DetectionInput record;
  const Status translated = translateCheckInput(*input, record, fopsFactory_.get(), log_);
  if (translated != Status::Success) return translated;

  auto result = std::make_unique<VfpcSdkOutput>(*logger_);
  // The verdict is false until the SDK writes it: a check that returns 0
  // without writing one leaves the detection standing.
  const std::int32_t code = callSdk(
      "checkDetection", [&] { return fpcInstance_->checkDetection(record, result->result()); });
  if (code != fpcsdk::Ok) {
    log_.format(plx::LogError, "Failed to check detection: %s", sdkErrorToString(code));
    return sdkErrorToStatus(code);
  }
  *output = result.release();
  return Status::Success;
}

}  // namespace kesp::plugins::fpchecker
