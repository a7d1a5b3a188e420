#include "checked/instance.h"

#include "checked/input_output.h"
#include "checked/violations.h"

namespace kesp::checked {

using fp::Status;
using Mode = CallGate::Mode;

Status CheckedOptions::setCustomOption(const plugins::GenericData* option) {
  const Call call(instance_, Facet::Options, Operation::SetCustomOption, Mode::Shared);
  return call ? real.load()->setCustomOption(option) : Status::Error;
}

Call CheckedInstance::enterJob(Operation operation) noexcept {
  Call call(*this, Facet::Instance, operation, Mode::Job);
  if (call && checker_.gate().blocksJobs()) {
    session().report(jobDuringCheckerCall(operation, checker_.gate().running(Mode::Job)));
    call.refuse();
  }
  return call;
}

void CheckedInstance::release() { releaseLeaf(*this, Facet::Instance, real_); }

fp::OptionsV1* CheckedInstance::getOptions() {
  const Call call(*this, Facet::Instance, Operation::GetOptions, Mode::Observe);
  if (!call) return nullptr;
  fp::OptionsV1* real = real_->getOptions();
  options_.real.store(real);
  return real != nullptr ? &options_ : nullptr;
}

Status CheckedInstance::setFops(FopsFactoryV1* factory) {
  const Call call = enterJob(Operation::SetFops);
  return call ? real_->setFops(factory) : Status::Error;
}

template <class Wrapper, class Real>
fp::InputV1* CheckedInstance::createWrappedInput(std::uint32_t type) noexcept {
  auto wrapper = makeWrapper<Wrapper>(sharedSession());
  if (!wrapper) return nullptr;
  fp::InputV1* real = real_->createInput(type);
  // The real instance makes the type asked for.
  return real != nullptr ? adopt(std::move(wrapper), static_cast<Real*>(real), nullptr) : nullptr;
}

fp::InputV1* CheckedInstance::createInput(std::uint32_t type) {
  const Call call(*this, Facet::Instance, Operation::CreateInput, Mode::Shared);
  if (!call) return nullptr;
  switch (type) {
    case static_cast<std::uint32_t>(fp::InputType::File):
      return createWrappedInput<CheckedFileInput, fp::FileInputV1>(type);
    case static_cast<std::uint32_t>(fp::InputType::MemoryFile):
      return createWrappedInput<CheckedMemoryInput, fp::MemoryFileInputV1>(type);
    default: return real_->createInput(type);  // the release build's refusal
  }
}

Status CheckedInstance::check(fp::InputV1* input, fp::OutputV1** output) {
  const Call call = enterJob(Operation::Check);
  if (!call) return Status::Error;
  // The release build's answers to null pointers, and to an input the host
  // made itself, which the real instance refuses by its table.
  if (input == nullptr || output == nullptr) return real_->check(input, output);
  InputCore* own = checkedInputOf(input);
  if (own == nullptr) return checkRealInput(input, output);
  const Call reading(*own, Facet::InputArgument, Operation::Check, Mode::Shared);
  return reading ? checkRealInput(own->realInput(), output) : Status::Error;
}

Status CheckedInstance::checkRealInput(fp::InputV1* input, fp::OutputV1** output) noexcept {
  auto wrapper = makeWrapper<CheckedOutput>(sharedSession());
  if (!wrapper) return Status::OutOfMemory;
  fp::OutputV1* real = nullptr;
  const Status status = real_->check(input, &real);
  if (status == Status::Success) *output = adopt(std::move(wrapper), real, nullptr);
  return status;
}

}  // namespace kesp::checked
