#include "tests/support/child_process.h"

#include <fstream>
#include <thread>

#include "tests/support/test_paths.h"

namespace kesp::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 2ms;
// A killed child ends in moments; one that does not is a failure of its own.
constexpr auto kKillBound = 10s;

}  // namespace

ChildProcess::ChildProcess(const ChildSetup& setup) {
  // A file the child writes exists, empty, before the child starts, so that
  // the test may open it for reading at once.
  for (const ChildStream* stream : {&setup.output, &setup.error}) {
    if (stream->kind == ChildStream::Kind::File || stream->kind == ChildStream::Kind::Terminal)
      std::ofstream(fromUtf8(stream->path), std::ios::binary | std::ios::trunc).close();
  }
  system_ = startChild(setup);
}

ChildProcess::~ChildProcess() {
  if (!wait(0ms)) kill();
}

void ChildProcess::signal(int number) {
  std::lock_guard lock(mutex_);
  system_->signal(number);
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;; std::this_thread::sleep_for(kPoll)) {
    if (std::lock_guard lock(mutex_); const std::optional<int> code = system_->exitCode())
      return code;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
  }
}

std::optional<int> ChildProcess::kill() {
  signal(kKill);
  return wait(kKillBound);
}

}  // namespace kesp::test
