// What runs on one object the host holds, in one atomic word: a call that
// must not overlap a running one is refused the moment it arrives, without a
// lock and without waiting, and the running call goes on as if alone.
#pragma once

#include <atomic>
#include <cstdint>

#include "checked/operation.h"

namespace kesp::checked {

class CallGate {
 public:
  enum class Mode : std::uint8_t {
    // Beside anything but a release, which it holds off (a getter).
    Observe,
    // Beside anything but an exclusive call.
    Shared,
    // Shared, and counted as a job of an instance (check, setFops), which a
    // checker's configuration and release must not overlap.
    Job,
    // Shared, but one at a time (a checker's proxy and certificate options).
    Proxy,
    // Alone among the calls that are not observers (load, an input change).
    Exclusive,
    // Exclusive, and no job may start on the checker's instances meanwhile
    // (the configuration calls).
    ExclusiveBlockingJobs,
    // Alone, observers included, blocking jobs; ends in markReleased().
    Release,
  };
  enum class Entry : std::uint8_t { Entered, Released, Busy };

  // On Entered the call runs until leave(mode); otherwise nothing changed.
  Entry enter(Operation operation, Mode mode) noexcept;
  void leave(Mode mode) noexcept;
  // Ends a Release call: from now on every call is refused as Released.
  void markReleased() noexcept;

  bool released() const noexcept;
  bool blocksJobs() const noexcept;
  bool jobRunning() const noexcept;
  bool anyRunning() const noexcept;
  // The call that a refused one overlapped: the running exclusive call, or
  // the one of the others that entered last.
  Operation running(Mode refused) const noexcept;

 private:
  std::atomic<std::uint64_t> state_{0};
  std::atomic<Operation> lastCall_{Operation::Release};
  std::atomic<Operation> lastObserver_{Operation::Release};
};

}  // namespace kesp::checked
