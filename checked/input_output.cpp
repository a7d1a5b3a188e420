#include "checked/input_output.h"

#include "foundation/own_table.h"

namespace kesp::checked {

void CheckedFileInput::setFileSize(std::uint64_t size) {
  const Call call = enterChange(Operation::SetFileSize);
  if (call) real_->setFileSize(size);
}

fp::Status CheckedMemoryInput::setBuffer(const void* buffer, std::uint64_t size) {
  const Call call = enterChange(Operation::SetBuffer);
  return call ? real_->setBuffer(buffer, size) : fp::Status::Error;
}

InputCore* checkedInputOf(fp::InputV1* input) noexcept {
  static const plx::OwnTable<CheckedFileInput> file{CheckedFileInput(nullptr)};
  static const plx::OwnTable<CheckedMemoryInput> memory{CheckedMemoryInput(nullptr)};
  if (file.holds(input)) return static_cast<CheckedFileInput*>(input);
  if (memory.holds(input)) return static_cast<CheckedMemoryInput*>(input);
  return nullptr;
}

void CheckedOutput::release() { releaseLeaf(*this, Facet::Output, real_); }

bool CheckedOutput::isFalsePositive() {
  const Call call(*this, Facet::Output, Operation::IsFalsePositive, CallGate::Mode::Observe);
  return call && real_->isFalsePositive();
}

}  // namespace kesp::checked
