#include "checked/tracked.h"

#include "checked/session.h"
#include "checked/tombstones.h"
#include "checked/violations.h"

namespace kesp::checked {

Call::Call(Tracked& object, Facet facet, Operation operation, CallGate::Mode mode) noexcept
    : object_(&object), mode_(mode) {
  const CallGate::Entry entry = object.gate().enter(operation, mode);
  if (entry == CallGate::Entry::Entered) return;
  object_ = nullptr;
  object.session().report(refusedCall(facet, operation, entry, object.gate().running(mode)));
}

void Call::refuse() noexcept {
  if (object_ != nullptr) std::exchange(object_, nullptr)->gate().leave(mode_);
}

void Call::finishRelease() noexcept {
  if (object_ != nullptr) std::exchange(object_, nullptr)->gate().markReleased();
}

void releaseLeaf(Tracked& object, Facet facet, ReleasableObjectV1* real) noexcept {
  Call call(object, facet, Operation::Release, CallGate::Mode::Release);
  if (!call) return;
  real->release();
  object.session().remove(object);
  call.finishRelease();
  bury(std::unique_ptr<Tracked>(&object));
}

}  // namespace kesp::checked
