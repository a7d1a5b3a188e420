// Keeps a module mapped for the life of the process, and tells whether a
// freed library is really gone.
#pragma once

namespace plx {

// For when code of a module may still run after its last holder frees it:
// an object this module handed out, or a thread a library left behind.
// After this, freeing the module that holds address (FreeLibrary, dlclose)
// no longer unmaps it. The last system error value is kept. A system that
// refuses leaves things as they were; there is nothing better to do then, so
// no failure is reported.
void pinModuleAt(const void* address) noexcept;

// The module that holds this code (the one foundation is linked into).
inline void pinOwnModule() noexcept { pinModuleAt(reinterpret_cast<const void*>(&pinModuleAt)); }

// Whether a loaded module (a library or the program) holds this address.
// Given an address inside a library after its last release, it tells
// whether the library is really gone from the process: the system may keep
// it (a Linux library with GNU-unique symbols is never unloaded, and a
// library may hold a reference to itself). The last system error value is
// kept.
bool moduleHoldsAddress(const void* address) noexcept;

}  // namespace plx
