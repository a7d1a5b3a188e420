// What every object of the checked build that the host holds carries beside
// the real object it stands for: its session, its gate and its place among
// the session's live objects.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "checked/call_gate.h"
#include "checked/operation.h"
#include "checked/session.h"
#include "kesp/releasable.h"

namespace kesp::checked {

class Tracked {
 public:
  // session may be null only for a sample object that never meets a host.
  Tracked(std::shared_ptr<Session> session, Kind kind) noexcept
      : session_(std::move(session)), kind_(kind) {}
  virtual ~Tracked() = default;
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

  Session& session() const noexcept { return *session_; }
  const std::shared_ptr<Session>& sharedSession() const noexcept { return session_; }
  CallGate& gate() noexcept { return gate_; }
  const CallGate& gate() const noexcept { return gate_; }
  Kind kind() const noexcept { return kind_; }

 private:
  friend class Session;
  friend void keepForever(std::unique_ptr<Tracked> released) noexcept;
  std::shared_ptr<Session> session_;
  Kind kind_;
  CallGate gate_;
  // The session's, under its lock: the creation number (per kind, from 1),
  // the checker of an instance, and the neighbours in the list of its kind
  // (next_ links the objects kept forever, which are in no list).
  std::uint64_t number_ = 0;
  const Tracked* owner_ = nullptr;
  Tracked* previous_ = nullptr;
  Tracked* next_ = nullptr;
};

// One call through an object's gate, from its entry to the end of the scope.
// A call the gate refuses is reported as the violation it is, and tests
// false.
class Call {
 public:
  Call(Tracked& object, Facet facet, Operation operation, CallGate::Mode mode) noexcept;
  Call(Call&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), mode_(other.mode_) {}
  Call& operator=(Call&&) = delete;
  ~Call() { refuse(); }

  explicit operator bool() const noexcept { return object_ != nullptr; }
  // Leaves at once: the caller refused the call after all (and reported it).
  void refuse() noexcept;
  // A Release call that released its object: every later call is refused.
  void finishRelease() noexcept;

 private:
  Tracked* object_;
  CallGate::Mode mode_;
};

// Lists wrapper, now standing for /*in*/ real, in its session (owner: the
// checker of an instance) and hands it over to the host.
template <class Wrapper, class Real>
Wrapper* adopt(std::unique_ptr<Wrapper> wrapper, Real* real, const Tracked* owner) noexcept {
  wrapper->attach(real);
  wrapper->session().add(*wrapper, owner);
  return wrapper.release();
}

// The release of an object nothing else of the plug-in depends on: the real
// object goes, the wrapper becomes a tombstone.
void releaseLeaf(Tracked& object, Facet facet, ReleasableObjectV1* real) noexcept;

// A new wrapper, made before the real object it will stand for, or null
// when memory has run out.
template <class Wrapper, class... Arguments>
std::unique_ptr<Wrapper> makeWrapper(Arguments&&... arguments) noexcept {
  try {
    return std::make_unique<Wrapper>(std::forward<Arguments>(arguments)...);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace kesp::checked
