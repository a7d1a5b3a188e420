// Every line the checked build writes: "Contract violation: ", the operation
// in single quotes, the kind of object, the rule broken, and the rule's
// stable id in brackets. The ids are part of the compatibility policy: a
// vendor searches and filters on them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "checked/call_gate.h"
#include "checked/operation.h"

namespace kesp::checked {

// A finished line in a fixed buffer: formatting one allocates nothing, so a
// violation is reported even when memory has run out.
class ViolationLine {
 public:
  const char* text() const noexcept { return text_.data(); }

 private:
  friend class LineFormatter;
  std::array<char, 1024> text_{};
};

// The objects a plug-in object's host still holds, by kind, with the
// creation numbers (counted per kind from 1) of the first few.
struct LiveObjects {
  static constexpr std::size_t kListed = 3;
  std::array<std::uint64_t, kKinds> count{};
  std::array<std::array<std::uint64_t, kListed>, kKinds> first{};

  bool any() const noexcept;
};

// A call its object's gate refused (entry Released or Busy), with the call
// it overlapped (the gate's running()).
ViolationLine refusedCall(Facet facet, Operation operation, CallGate::Entry entry,
                          Operation running) noexcept;
// A job of an instance refused because a configuration call or the release
// runs on its checker.
ViolationLine jobDuringCheckerCall(Operation operation, Operation running) noexcept;
// A configuration call or release of a checker refused because a job runs
// on one of its instances.
ViolationLine checkerCallDuringJob(Facet facet, Operation operation, Operation running) noexcept;
// The plug-in object's release refused because a call runs on something it made.
ViolationLine pluginReleaseDuringCall(Facet where, Operation running) noexcept;
// A checker released before its instances.
ViolationLine checkerReleasedBeforeInstances(std::uint64_t instances) noexcept;
// The leak report: the plug-in object released before what it made.
ViolationLine pluginReleasedBeforeObjects(const LiveObjects& live) noexcept;

}  // namespace kesp::checked
