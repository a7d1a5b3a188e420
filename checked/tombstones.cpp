#include "checked/tombstones.h"

#include <array>
#include <atomic>
#include <cstdint>

#include "checked/session.h"
#include "foundation/module_pin.h"

namespace kesp::checked {

namespace {

class TombstoneRing {
 public:
  constexpr TombstoneRing() noexcept = default;
  TombstoneRing(const TombstoneRing&) = delete;
  TombstoneRing& operator=(const TombstoneRing&) = delete;
  // At the module's unload: what is left goes back to the system.
  ~TombstoneRing() {
    for (std::atomic<Tracked*>& slot : slots_) std::unique_ptr<Tracked>(slot.exchange(nullptr));
  }

  // Lock-free: each release takes the next ticket and swaps itself into the
  // ticket's slot. Only a thread stalled between the two steps for a whole
  // round of the ring could see a younger tombstone in its slot, which then
  // goes early; no tombstone is ever freed twice.
  void bury(std::unique_ptr<Tracked> released) noexcept {
    const std::uint64_t ticket = next_.fetch_add(1);
    const std::unique_ptr<Tracked> evicted(
        slots_[ticket % kTombstones].exchange(released.release()));
  }

 private:
  std::atomic<std::uint64_t> next_{0};
  std::array<std::atomic<Tracked*>, kTombstones> slots_{};
};

constinit TombstoneRing ring;

// A stack without a destructor, so that what it holds stays reachable, and
// alive, to the very end of the process.
constinit std::atomic<Tracked*> keptObjects{nullptr};

}  // namespace

void bury(std::unique_ptr<Tracked> released) noexcept { ring.bury(std::move(released)); }

void keepForever(std::unique_ptr<Tracked> released) noexcept {
  plx::pinOwnModule();
  released->session().markKeptAlive();
  Tracked* kept = released.release();
  kept->next_ = keptObjects.load();
  while (!keptObjects.compare_exchange_weak(kept->next_, kept)) {
  }
}

}  // namespace kesp::checked
