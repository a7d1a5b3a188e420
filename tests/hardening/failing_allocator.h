// Allocation-failure injection for one test program. The program replaces
// the global operator new: allocations made inside an Injected scope are
// numbered, and the one chosen by arm() fails (or every one from it on).
// Blocks allocated inside such scopes are counted while they live, so a test
// can tell that everything the plug-in made was freed again.
//
// On Linux the plug-in library's operator new resolves to this program's
// replacement. A Windows DLL linked with a static runtime keeps an operator
// new of its own; the allocation test therefore loads a build of the plug-in
// whose operator new calls kespTestAllocate below (allocation_hook_dll.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define KESP_HARDENING_EXPORT extern "C" __declspec(dllexport)
#else
#define KESP_HARDENING_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace kesp::test::allocation {

enum class Mode {
  Once,        // only the chosen allocation fails: memory is short for a moment
  FromThenOn,  // the chosen one and all that follow fail, until disarm()
};

// Restarts the numbering; the failAt-th numbered allocation (from 1) fails.
void arm(std::uint64_t failAt, Mode mode) noexcept;
// No further failures; numbering goes on.
void disarm() noexcept;
// Whether a failure was injected since arm().
bool struck() noexcept;
// Numbered allocations since arm().
std::uint64_t numbered() noexcept;
// Blocks allocated inside Injected scopes and not freed yet.
std::int64_t liveBlocks() noexcept;

// Calls action(context) once, paused, at the moment the at-th numbered
// allocation since arm() is asked for (before it is made): as a host thread
// might act in the middle of a plug-in call. Cleared by arm().
void actAt(std::uint64_t at, void (*action)(void*), void* context) noexcept;

// Allocations on this thread inside the scope are numbered and may fail.
class Injected {
 public:
  Injected() noexcept;
  ~Injected();
  Injected(const Injected&) = delete;
  Injected& operator=(const Injected&) = delete;
};

// For host code that the plug-in calls inside an Injected scope (the host
// log, the checker SDK control, host file operations): the host's own memory
// is not the plug-in's to run out of, so its allocations are not numbered.
class Paused {
 public:
  Paused() noexcept;
  ~Paused();
  Paused(const Paused&) = delete;
  Paused& operator=(const Paused&) = delete;
};

}  // namespace kesp::test::allocation

// The allocator itself, for a plug-in build with an operator new of its own.
// kespTestAllocate returns null for an injected failure; it never throws, so
// no exception has to cross from this program into the library.
KESP_HARDENING_EXPORT void* kespTestAllocate(std::size_t size) noexcept;
KESP_HARDENING_EXPORT void kespTestDeallocate(void* block) noexcept;
