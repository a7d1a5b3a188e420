#include "checked/checker.h"

#include "checked/instance.h"
#include "checked/tombstones.h"
#include "checked/violations.h"

namespace kesp::checked {

using fp::Status;
using Mode = CallGate::Mode;

Call CheckedChecker::enterAlone(Facet facet, Operation operation, Mode mode,
                                std::uint64_t* instances) noexcept {
  Call call(*this, facet, operation, mode);
  if (!call) return call;
  // The gate is taken first and the instances read after, while every job
  // enters its instance's gate first and reads this gate after: of a job
  // and this call arriving together, at least one sees the other.
  bool jobRunning = false;
  Operation running = Operation::Check;
  const std::uint64_t count = session().instancesOf(*this, jobRunning, running);
  if (instances != nullptr) *instances = count;
  if (jobRunning) {
    session().report(checkerCallDuringJob(facet, operation, running));
    call.refuse();
  }
  return call;
}

void CheckedChecker::release() {
  std::uint64_t instances = 0;
  Call call = enterAlone(Facet::Checker, Operation::Release, Mode::Release, &instances);
  if (!call) return;
  // Instances use the real checker's loader and SDK: it stays for them.
  if (instances != 0) {
    session().report(checkerReleasedBeforeInstances(instances));
  } else {
    real_->release();
  }
  session().remove(*this);
  call.finishRelease();
  std::unique_ptr<Tracked> self(this);
  instances != 0 ? keepForever(std::move(self)) : bury(std::move(self));
}

fp::GlobalConfigV1* CheckedChecker::getConfig() {
  const Call call(*this, Facet::Checker, Operation::GetConfig, Mode::Observe);
  if (!call) return nullptr;
  fp::GlobalConfigV1* real = real_->getConfig();
  config_.real.store(real);
  return real != nullptr ? &config_ : nullptr;
}

Status CheckedChecker::load() {
  const Call call(*this, Facet::Checker, Operation::Load, Mode::Exclusive);
  return call ? real_->load() : Status::Error;
}

const fp::CheckerInfo* CheckedChecker::getInfo() {
  const Call call(*this, Facet::Checker, Operation::GetInfo, Mode::Shared);
  return call ? real_->getInfo() : nullptr;
}

Status CheckedChecker::sendCommand(const fp::CheckerCommand* command) {
  const Call call(*this, Facet::Checker, Operation::SendCommand, Mode::Shared);
  return call ? real_->sendCommand(command) : Status::Error;
}

Status CheckedChecker::createInstance(fp::InstanceV1** instance) {
  const Call call(*this, Facet::Checker, Operation::CreateInstance, Mode::Shared);
  if (!call) return Status::Error;
  // The release build's answer to a null slot.
  if (instance == nullptr) return real_->createInstance(nullptr);
  auto wrapper = makeWrapper<CheckedInstance>(sharedSession(), *this);
  if (!wrapper) return Status::OutOfMemory;
  fp::InstanceV1* real = nullptr;
  const Status status = real_->createInstance(&real);
  if (status == Status::Success) *instance = adopt(std::move(wrapper), real, this);
  return status;
}

Status CheckedChecker::unload() {
  const Call call(*this, Facet::Checker, Operation::Unload, Mode::Exclusive);
  return call ? real_->unload() : Status::Error;
}

void CheckedConfig::setApiVersion(std::uint32_t major, std::uint32_t minor) {
  const Call call = checker_.enterAlone(Facet::Configuration, Operation::SetApiVersion,
                                        Mode::ExclusiveBlockingJobs);
  if (call) real.load()->setApiVersion(major, minor);
}

Status CheckedConfig::setBaseDirectory(const char* directory) {
  const Call call = checker_.enterAlone(Facet::Configuration, Operation::SetBaseDirectory,
                                        Mode::ExclusiveBlockingJobs);
  return call ? real.load()->setBaseDirectory(directory) : Status::Error;
}

Status CheckedConfig::setCustomOption(const plugins::GenericData* option) {
  // The proxy and the certificate path may change while instances check.
  const bool proxyPair = option != nullptr &&
                         (option->id == fp::OptionProxy || option->id == fp::OptionCertificatePath);
  const Call call =
      proxyPair ? Call(checker_, Facet::Configuration, Operation::SetCustomOption, Mode::Proxy)
                : checker_.enterAlone(Facet::Configuration, Operation::SetCustomOption,
                                      Mode::ExclusiveBlockingJobs);
  return call ? real.load()->setCustomOption(option) : Status::Error;
}

void CheckedConfig::reset() {
  const Call call =
      checker_.enterAlone(Facet::Configuration, Operation::Reset, Mode::ExclusiveBlockingJobs);
  if (call) real.load()->reset();
}

}  // namespace kesp::checked
