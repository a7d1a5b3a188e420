#include "checked/call_gate.h"

namespace kesp::checked {

namespace {

// The word: calls (bits 0-19), observers (20-39), jobs (40-55), flags.
// Nothing enters beside a release, so markReleased() may overwrite it all.
constexpr std::uint64_t kCall = 1;
constexpr std::uint64_t kCalls = (1ull << 20) - 1;
constexpr std::uint64_t kObserver = 1ull << 20;
constexpr std::uint64_t kObservers = kCalls << 20;
constexpr std::uint64_t kJob = 1ull << 40;
constexpr std::uint64_t kJobs = 0xffffull << 40;
constexpr std::uint64_t kProxy = 1ull << 59;
constexpr std::uint64_t kBlocksJobs = 1ull << 60;
constexpr std::uint64_t kReleasing = 1ull << 61;
constexpr std::uint64_t kExclusive = 1ull << 62;
constexpr std::uint64_t kReleased = 1ull << 63;

using Mode = CallGate::Mode;

// What a call of the mode adds to the word while it runs. The flags it sets
// are never set when it enters, so that subtracting the same value on leave
// clears them without a borrow.
constexpr std::uint64_t added(Mode mode) noexcept {
  switch (mode) {
    case Mode::Observe: return kObserver;
    case Mode::Shared: return kCall;
    case Mode::Job: return kCall + kJob;
    case Mode::Proxy: return kCall + kProxy;
    case Mode::Exclusive: return kExclusive;
    case Mode::ExclusiveBlockingJobs: return kExclusive + kBlocksJobs;
    case Mode::Release: return kExclusive + kBlocksJobs + kReleasing;
  }
  return 0;
}

// What a call of the mode cannot run beside.
constexpr std::uint64_t conflicts(Mode mode) noexcept {
  switch (mode) {
    case Mode::Observe: return kReleasing;
    case Mode::Shared:
    case Mode::Job: return kExclusive;
    case Mode::Proxy: return kExclusive | kProxy;
    case Mode::Exclusive:
    case Mode::ExclusiveBlockingJobs: return kExclusive | kProxy | kCalls;
    case Mode::Release: return kExclusive | kProxy | kCalls | kObservers;
  }
  return 0;
}

}  // namespace

CallGate::Entry CallGate::enter(Operation operation, Mode mode) noexcept {
  std::uint64_t state = state_.load();
  do {
    if ((state & kReleased) != 0) return Entry::Released;
    if ((state & conflicts(mode)) != 0) return Entry::Busy;
  } while (!state_.compare_exchange_weak(state, state + added(mode)));
  (mode == Mode::Observe ? lastObserver_ : lastCall_).store(operation, std::memory_order_relaxed);
  return Entry::Entered;
}

void CallGate::leave(Mode mode) noexcept { state_.fetch_sub(added(mode)); }

void CallGate::markReleased() noexcept { state_.store(kReleased); }

bool CallGate::released() const noexcept { return (state_.load() & kReleased) != 0; }

bool CallGate::blocksJobs() const noexcept { return (state_.load() & kBlocksJobs) != 0; }

bool CallGate::jobRunning() const noexcept { return (state_.load() & kJobs) != 0; }

bool CallGate::anyRunning() const noexcept {
  return (state_.load() & (kCalls | kObservers | kExclusive)) != 0;
}

Operation CallGate::running(Mode refused) const noexcept {
  const std::uint64_t state = state_.load();
  const bool onlyObservers = refused == Mode::Release && (state & ~kObservers & ~kReleased) == 0;
  return (onlyObservers ? lastObserver_ : lastCall_).load(std::memory_order_relaxed);
}

}  // namespace kesp::checked
