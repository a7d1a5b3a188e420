// What happens to an object's memory once the host has released it.
#pragma once

#include <memory>

#include "checked/tracked.h"

namespace kesp::checked {

// The last 65,536 released objects are kept, their gates marked released,
// before their memory goes back (oldest first): a late call on one is
// refused and named instead of reading memory reused for something else.
inline constexpr std::size_t kTombstones = 65536;
void bury(std::unique_ptr<Tracked> released) noexcept;

// For a released object whose real object something still uses (a checker
// with instances, the plug-in object with anything it made): the stand-in,
// taken off its session's lists, is never freed, so neither its real object
// (never released) nor its session (whose log the real objects write to),
// and this module stays mapped for their code.
void keepForever(std::unique_ptr<Tracked> released) noexcept;

}  // namespace kesp::checked
