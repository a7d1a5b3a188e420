// The checked inputs and output.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "checked/tracked.h"
#include "kesp/input.h"

namespace kesp::checked {

namespace fp = plugins::fpchecker;

// What getType answers on a released input: no input type.
inline constexpr std::uint32_t kNoInputType = std::numeric_limits<std::uint32_t>::max();

// What a check reads of either kind of checked input: the real input.
class InputCore : public Tracked {
 public:
  explicit InputCore(std::shared_ptr<Session> session) noexcept
      : Tracked(std::move(session), Kind::Input) {}
  fp::InputV1* realInput() const noexcept { return realInput_; }

 protected:
  fp::InputV1* realInput_ = nullptr;
};

// Every change runs alone on the input and never while a check reads it.
template <class Interface>
class CheckedInput : public Interface, public InputCore {
 public:
  using InputCore::InputCore;
  void attach(Interface* real) noexcept {
    real_ = real;
    realInput_ = real;
  }

  void release() override { releaseLeaf(*this, Facet::Input, real_); }
  std::uint32_t getType() override {
    const Call call(*this, Facet::Input, Operation::GetType, CallGate::Mode::Observe);
    return call ? real_->getType() : kNoInputType;
  }
  fp::Status setDetectionName(const char* name) override {
    const Call call = enterChange(Operation::SetDetectionName);
    return call ? real_->setDetectionName(name) : fp::Status::Error;
  }
  fp::Status addCustomData(const plugins::GenericData* data) override {
    const Call call = enterChange(Operation::AddCustomData);
    return call ? real_->addCustomData(data) : fp::Status::Error;
  }
  void setFopsContext(void* context) override {
    const Call call = enterChange(Operation::SetFopsContext);
    if (call) real_->setFopsContext(context);
  }
  fp::Status setPath(const char* path) override {
    const Call call = enterChange(Operation::SetPath);
    return call ? real_->setPath(path) : fp::Status::Error;
  }

 protected:
  Call enterChange(Operation operation) noexcept {
    return Call(*this, Facet::Input, operation, CallGate::Mode::Exclusive);
  }

  Interface* real_ = nullptr;
};

class CheckedFileInput final : public CheckedInput<fp::FileInputV1> {
 public:
  using CheckedInput::CheckedInput;
  void setFileSize(std::uint64_t size) override;
};

class CheckedMemoryInput final : public CheckedInput<fp::MemoryFileInputV1> {
 public:
  using CheckedInput::CheckedInput;
  fp::Status setBuffer(const void* buffer, std::uint64_t size) override;
};

// The checked input behind /*in*/ input when it is one, else null. Reads
// nothing of the object but its table pointer.
InputCore* checkedInputOf(fp::InputV1* input) noexcept;

class CheckedOutput final : public fp::OutputV1, public Tracked {
 public:
  explicit CheckedOutput(std::shared_ptr<Session> session) noexcept
      : Tracked(std::move(session), Kind::Output) {}
  void attach(fp::OutputV1* real) noexcept { real_ = real; }

  void release() override;
  bool isFalsePositive() override;

 private:
  fp::OutputV1* real_ = nullptr;
};

}  // namespace kesp::checked
