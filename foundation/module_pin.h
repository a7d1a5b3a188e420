// Keeps the module that holds this code mapped for the life of the process.
#pragma once

namespace plx {

// For when this module hands out an object whose code must outlive the
// host's hold on the module: after this, freeing the module (FreeLibrary,
// dlclose) no longer unmaps it. The last system error value is kept. A
// system that refuses leaves things as they were; there is nothing better
// to do then, so no failure is reported.
void pinOwnModule() noexcept;

}  // namespace plx
