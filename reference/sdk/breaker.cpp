#include "reference/sdk/breaker.h"

#include <algorithm>

namespace vfpcsdk {

Breaker::Admission Breaker::admit() {
  if (!notClosed_.load(std::memory_order_acquire)) return Admission::Go;
  std::lock_guard lock(mutex_);
  switch (state_) {
    case State::Closed: return Admission::Go;
    case State::Probing: return Admission::Refused;
    case State::Open:
      if (time_.now() < openUntil_) return Admission::Refused;
      state_ = State::Probing;
      return Admission::Probe;
  }
  return Admission::Refused;
}

void Breaker::record(BreakerSignal signal, Admission admission, const std::string& cause) {
  // The common case, a closed breaker and an answer after an answer, takes
  // no lock.
  if (signal != BreakerSignal::Failure && failures_.load(std::memory_order_relaxed) == 0 &&
      !notClosed_.load(std::memory_order_acquire)) {
    return;
  }
  std::lock_guard lock(mutex_);
  const bool probe = admission == Admission::Probe && state_ == State::Probing;
  switch (signal) {
    case BreakerSignal::Reached:
      failures_.store(0, std::memory_order_relaxed);
      if (state_ != State::Closed) closeLocked("it answers again");
      return;
    case BreakerSignal::Neutral:
      failures_.store(0, std::memory_order_relaxed);
      // A probe that learnt nothing lets the next attempt probe.
      if (probe) state_ = State::Open;
      return;
    case BreakerSignal::Failure:
      break;
  }
  if (probe) {
    coolOff_ = std::min(coolOff_ * 2, kLongestCoolOff);
  } else if (state_ != State::Closed ||
             failures_.fetch_add(1, std::memory_order_relaxed) + 1 < kOpenAfter) {
    return;  // counted; or an attempt that went out before the breaker opened
  }
  state_ = State::Open;
  openUntil_ = time_.now() + coolOff_;
  notClosed_.store(true, std::memory_order_release);
  log_.write(LevelWarning, [&] {
    return "The cloud service " + service_ + (probe ? " still fails" : " is unreachable") +
           " (" + cause + "): every check fails at once with a connection error for " +
           std::to_string(coolOff_.count()) + " ms, then one check probes";
  });
}

void Breaker::close(const char* why) {
  std::lock_guard lock(mutex_);
  failures_.store(0, std::memory_order_relaxed);
  if (state_ != State::Closed) closeLocked(why);
}

void Breaker::closeLocked(const char* why) {
  state_ = State::Closed;
  coolOff_ = kFirstCoolOff;
  notClosed_.store(false, std::memory_order_release);
  log_.write(LevelInfo, [&] {
    return "The cloud service " + service_ + ": the breaker is closed (" + why +
           "); checks go to the service again";
  });
}

}  // namespace vfpcsdk
