#include "tests/hardening/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace kesp::test::allocation {

namespace {

// Every block carries a header saying whether it is counted, so that a
// block made in one scope and freed in another is accounted for exactly.
// Sixteen bytes keep the block itself aligned as malloc aligns.
struct alignas(16) Header {
  std::uint32_t counted;
};
static_assert(sizeof(Header) == 16);

// Plain integers only: neither may allocate on first use.
thread_local int injectedDepth = 0;
thread_local int pausedDepth = 0;

std::atomic<std::uint64_t> failAt{0};
std::atomic<bool> fromThenOn{false};
std::atomic<std::uint64_t> numberedCount{0};
std::atomic<bool> struckFlag{false};
std::atomic<std::int64_t> live{0};
std::atomic<std::uint64_t> actionAt{0};
std::atomic<void (*)(void*)> action{nullptr};
std::atomic<void*> actionContext{nullptr};

}  // namespace

void arm(std::uint64_t target, Mode mode) noexcept {
  numberedCount.store(0);
  struckFlag.store(false);
  actionAt.store(0);
  fromThenOn.store(mode == Mode::FromThenOn);
  failAt.store(target);
}

void actAt(std::uint64_t at, void (*act)(void*), void* context) noexcept {
  action.store(act);
  actionContext.store(context);
  actionAt.store(at);
}

void disarm() noexcept { failAt.store(0); }
bool struck() noexcept { return struckFlag.load(); }
std::uint64_t numbered() noexcept { return numberedCount.load(); }
std::int64_t liveBlocks() noexcept { return live.load(); }

Injected::Injected() noexcept { ++injectedDepth; }
Injected::~Injected() { --injectedDepth; }
Paused::Paused() noexcept { ++pausedDepth; }
Paused::~Paused() { --pausedDepth; }

namespace {

void* allocate(std::size_t size) noexcept {
  const bool counted = injectedDepth > 0 && pausedDepth == 0;
  if (counted) {
    const std::uint64_t number = numberedCount.fetch_add(1) + 1;
    std::uint64_t expected = number;
    if (actionAt.compare_exchange_strong(expected, 0)) {
      ++pausedDepth;
      action.load()(actionContext.load());
      --pausedDepth;
    }
    const std::uint64_t target = failAt.load();
    if (target != 0 && (number == target || (fromThenOn.load() && number > target))) {
      struckFlag.store(true);
      return nullptr;
    }
  }
  void* raw = std::malloc(sizeof(Header) + (size != 0 ? size : 1));
  if (raw == nullptr) return nullptr;
  Header* header = new (raw) Header{counted ? 1u : 0u};
  if (counted) live.fetch_add(1);
  return header + 1;
}

void deallocate(void* block) noexcept {
  if (block == nullptr) return;
  Header* header = static_cast<Header*>(block) - 1;
  if (header->counted != 0) live.fetch_sub(1);
  std::free(header);
}

}  // namespace
}  // namespace kesp::test::allocation

void* kespTestAllocate(std::size_t size) noexcept { return kesp::test::allocation::allocate(size); }
void kespTestDeallocate(void* block) noexcept { kesp::test::allocation::deallocate(block); }

// The replacements. The sized, array and nothrow forms are replaced too, so
// that no form reaches the runtime's own allocator with one of our blocks.
void* operator new(std::size_t size) {
  void* block = kespTestAllocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return kespTestAllocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return kespTestAllocate(size);
}
void operator delete(void* block) noexcept { kespTestDeallocate(block); }
void operator delete[](void* block) noexcept { kespTestDeallocate(block); }
void operator delete(void* block, std::size_t) noexcept { kespTestDeallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { kespTestDeallocate(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { kespTestDeallocate(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { kespTestDeallocate(block); }
