#include "tests/fops/system_call_faults.h"

#include <array>
#include <atomic>

namespace kesp::test {

namespace {

using fops::FileSystemCalls;

struct FaultState {
  std::atomic<int> calls{0};
  std::atomic<int> failAt{0};
  std::atomic<SystemCall> failed{SystemCall::None};
  std::atomic<int> openHandles{0};
  std::array<std::atomic<int>, static_cast<std::size_t>(SystemCall::None)> callsOf{};
};

FaultState& state() {
  static FaultState faults;
  return faults;
}

template <SystemCall Kind, auto Entry, class... Args>
bool counted(Args... args) {
  FaultState& faults = state();
  if (++faults.calls == faults.failAt) {
    faults.failed = Kind;
    return false;
  }
  ++faults.callsOf[static_cast<std::size_t>(Kind)];
  const bool succeeded = (fops::systemFileCalls().*Entry)(args...);
  if (succeeded && Kind == SystemCall::Open) ++faults.openHandles;
  if (succeeded && Kind == SystemCall::Close) --faults.openHandles;
  return succeeded;
}

template <SystemCall Kind, auto Entry, class Result, class... Args>
constexpr auto wrapper(Result (*)(Args...)) {
  return &counted<Kind, Entry, Args...>;
}

template <SystemCall Kind, auto Entry>
void wrap(FileSystemCalls& calls) {
  calls.*Entry = wrapper<Kind, Entry>(calls.*Entry);
}

}  // namespace

SystemCallFaults::SystemCallFaults() {
  failNthCall(0);
  state().openHandles = 0;
  FileSystemCalls& table = calls();
  table = fops::systemFileCalls();
  wrap<SystemCall::Access, &FileSystemCalls::access>(table);
  wrap<SystemCall::Move, &FileSystemCalls::move>(table);
  wrap<SystemCall::Remove, &FileSystemCalls::remove>(table);
  wrap<SystemCall::Open, &FileSystemCalls::open>(table);
  wrap<SystemCall::Read, &FileSystemCalls::read>(table);
  wrap<SystemCall::Write, &FileSystemCalls::write>(table);
  wrap<SystemCall::SetPointer, &FileSystemCalls::setPointer>(table);
  wrap<SystemCall::Size, &FileSystemCalls::size>(table);
  wrap<SystemCall::Flush, &FileSystemCalls::flush>(table);
  wrap<SystemCall::Close, &FileSystemCalls::close>(table);
}

SystemCallFaults::~SystemCallFaults() { calls() = fops::systemFileCalls(); }

fops::FileSystemCalls& SystemCallFaults::calls() { return fops::fileSystemCalls(); }

void SystemCallFaults::failNthCall(int n) {
  FaultState& faults = state();
  faults.calls = 0;
  faults.failAt = n;
  faults.failed = SystemCall::None;
  for (auto& count : faults.callsOf) count = 0;
}

SystemCall SystemCallFaults::failedCall() const { return state().failed; }

int SystemCallFaults::callsOf(SystemCall kind) const {
  return state().callsOf[static_cast<std::size_t>(kind)];
}

int SystemCallFaults::openHandles() const { return state().openHandles; }

}  // namespace kesp::test
