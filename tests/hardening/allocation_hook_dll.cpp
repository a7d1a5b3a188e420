// Linked into a Windows build of the plug-in used only by the allocation
// test. A DLL with a static runtime has an operator new of its own, which
// the test program cannot replace; this one hands every allocation to the
// test program's allocator (kespTestAllocate, found among the program's
// exports), so that the test can make the plug-in's allocations fail.
// Outside such a program it falls back to malloc and free.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

using AllocateFunction = void* (*)(std::size_t) noexcept;
using DeallocateFunction = void (*)(void*) noexcept;

struct Hooks {
  AllocateFunction allocate;
  DeallocateFunction deallocate;
};

// Looked up on first use without allocating, since operator new calls it.
// Threads that race here find the same exports and store the same values.
Hooks hooks() noexcept {
  static std::atomic<AllocateFunction> allocateHook{nullptr};
  static std::atomic<DeallocateFunction> deallocateHook{nullptr};
  static std::atomic<bool> resolved{false};
  if (!resolved.load(std::memory_order_acquire)) {
    HMODULE program = ::GetModuleHandleW(nullptr);
    // Through void*: FARPROC's own type matches neither signature.
    auto allocateFound = reinterpret_cast<AllocateFunction>(
        reinterpret_cast<void*>(::GetProcAddress(program, "kespTestAllocate")));
    auto deallocateFound = reinterpret_cast<DeallocateFunction>(
        reinterpret_cast<void*>(::GetProcAddress(program, "kespTestDeallocate")));
    if (allocateFound != nullptr && deallocateFound != nullptr) {
      allocateHook.store(allocateFound);
      deallocateHook.store(deallocateFound);
    }
    resolved.store(true, std::memory_order_release);
  }
  return Hooks{allocateHook.load(), deallocateHook.load()};
}

void* allocate(std::size_t size) noexcept {
  const Hooks hook = hooks();
  return hook.allocate != nullptr ? hook.allocate(size) : std::malloc(size != 0 ? size : 1);
}

void deallocate(void* block) noexcept {
  const Hooks hook = hooks();
  if (hook.deallocate != nullptr) {
    hook.deallocate(block);
  } else {
    std::free(block);
  }
}

}  // namespace

void* operator new(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { deallocate(block); }
void operator delete[](void* block) noexcept { deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { deallocate(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { deallocate(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { deallocate(block); }
