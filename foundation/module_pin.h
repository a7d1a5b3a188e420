// Keeps the module that holds this code mapped for the life of the process,
// and tells whether a freed library is really gone.
#pragma once

namespace plx {

// For when this module hands out an object whose code must outlive the
// host's hold on the module: after this, freeing the module (FreeLibrary,
// dlclose) no longer unmaps it. The last system error value is kept. A
// system that refuses leaves things as they were; there is nothing better
// to do then, so no failure is reported.
void pinOwnModule() noexcept;

// Whether a loaded module (a library or the program) holds this address.
// Given an address inside a library after its last release, it tells
// whether the library is really gone from the process: the system may keep
// it (a Linux library with GNU-unique symbols is never unloaded, and a
// library may hold a reference to itself). The last system error value is
// kept.
bool moduleHoldsAddress(const void* address) noexcept;

}  // namespace plx
