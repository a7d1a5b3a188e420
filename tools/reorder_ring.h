// The window between the stage that admits work and the one that hands out
// its results: at most a fixed number of entries (and a budget of their
// cost, the bytes of the lines) are held from reserve() to take(), and
// take() hands the results out in the order they were reserved, however they
// were finished (or, unordered, as they were finished).
//
// Each hand-over that wakes a sleeping thread costs a system call, so: a
// producer that found the window full goes on only once half of it is free;
// a result wakes a waiting taker only when wakeBatch of them are there, when
// its putter says it is urgent, or when the taker has waited patience.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace fpcheck {

template <class T>
class ReorderRing {
 public:
  using Clock = std::chrono::steady_clock;

  struct Limits {
    std::size_t entries = 1;
    std::size_t cost = 1;  // an entry that costs more is admitted when nothing is held
    std::size_t wakeBatch = 1;
    Clock::duration patience{};
  };

  // A reserved place: its position in the order, and where it is kept.
  struct Ticket {
    std::size_t sequence = 0;
    std::size_t slot = 0;
  };

  ReorderRing(const Limits& limits, bool unordered)
      : limits_(limits), unordered_(unordered), slots_(limits.entries < 1 ? 1 : limits.entries) {
    if (unordered_) {
      for (std::size_t slot = slots_.size(); slot > 0; --slot) free_.push_back(slot - 1);
    }
  }
  ReorderRing(const ReorderRing&) = delete;
  ReorderRing& operator=(const ReorderRing&) = delete;

  // Waits for room for an entry of this cost; none once closed or stopped.
  std::optional<Ticket> reserve(std::size_t cost) {
    std::unique_lock lock(mutex_);
    if (!fits(cost, slots_.size()) && !closed_) {
      producerWaits_ = true;
      room_.wait(lock, [&] { return closed_ || fits(cost, slots_.size() / 2 + 1); });
      producerWaits_ = false;
    }
    if (closed_) return std::nullopt;
    Ticket ticket{reserved_++, 0};
    if (unordered_) {
      ticket.slot = free_.back();
      free_.pop_back();
    } else {
      ticket.slot = ticket.sequence % slots_.size();
    }
    slots_[ticket.slot] = Slot{State::Reserved, cost, std::nullopt};
    ++held_;
    heldCost_ += cost;
    return ticket;
  }

  // The result of a reserved entry.
  void put(const Ticket& ticket, T value, bool urgent = false) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[ticket.slot];
    slot.value.emplace(std::move(value));
    slot.state = State::Ready;
    ++ready_;
    if (unordered_) readyOrder_.push_back(ticket.slot);
    const bool wake = takerWaits_ && (urgent || ready_ >= limits_.wakeBatch ||
                                      Clock::now() - takerWaitsSince_ >= limits_.patience);
    lock.unlock();
    if (wake) takeable_.notify_one();
  }

  // A reserved entry whose result never comes: its room is freed, and in
  // order the results after it are handed out past it.
  void abandon(const Ticket& ticket) {
    std::unique_lock lock(mutex_);
    Slot& slot = slots_[ticket.slot];
    if (unordered_) {
      release(ticket.slot);
    } else {
      slot.state = State::Abandoned;
      advance(nullptr);
    }
    const bool wake = takerWaits_;
    lock.unlock();
    wakeProducer();
    if (wake) takeable_.notify_one();
  }

  // Moves out every result that may be handed out now; their count.
  std::size_t take(std::vector<T>& out) {
    const std::size_t before = out.size();
    {
      std::lock_guard lock(mutex_);
      if (unordered_) {
        for (const std::size_t slot : readyOrder_) {
          out.push_back(std::move(*slots_[slot].value));
          release(slot);
        }
        readyOrder_.clear();
      } else {
        advance(&out);
      }
    }
    if (out.size() > before) wakeProducer();
    return out.size() - before;
  }

  // Waits until a result may be taken, or nothing more can come (drained),
  // or the deadline passes; whether a result or the end is there.
  bool waitTakeable(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return takeableLocked() || drainedLocked(); };
    if (ready()) return true;
    takerWaits_ = true;
    takerWaitsSince_ = Clock::now();
    const bool result = takeable_.wait_until(lock, deadline, ready);
    takerWaits_ = false;
    return result;
  }

  // No further reservation: a waiting reserve returns none; what is held is
  // still put (or abandoned) and taken.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    room_.notify_all();
    takeable_.notify_all();
  }

  // Closed, and every entry reserved has been taken or abandoned.
  bool drained() {
    std::lock_guard lock(mutex_);
    return drainedLocked();
  }

 private:
  enum class State { Free, Reserved, Ready, Abandoned };
  struct Slot {
    State state = State::Free;
    std::size_t cost = 0;
    std::optional<T> value;
  };

  bool fits(std::size_t cost, std::size_t entries) const {
    return held_ == 0 || (held_ < entries && heldCost_ + cost <= limits_.cost);
  }

  bool takeableLocked() const {
    if (unordered_) return !readyOrder_.empty();
    return held_ > 0 && slots_[next_ % slots_.size()].state == State::Ready;
  }

  bool drainedLocked() const { return closed_ && held_ == 0; }

  void release(std::size_t slot) {
    --held_;
    heldCost_ -= slots_[slot].cost;
    if (slots_[slot].state == State::Ready) --ready_;
    slots_[slot] = Slot{};
    if (unordered_) free_.push_back(slot);
  }

  // In order: hands out (to out, when given) or skips the results from the
  // first one not yet handed out, up to the first still awaited.
  void advance(std::vector<T>* out) {
    while (held_ > 0) {
      const std::size_t slot = next_ % slots_.size();
      const State state = slots_[slot].state;
      if (state == State::Abandoned) {
        release(slot);
      } else if (state == State::Ready && out != nullptr) {
        out->push_back(std::move(*slots_[slot].value));
        release(slot);
      } else {
        return;
      }
      ++next_;
    }
  }

  void wakeProducer() {
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      wake = producerWaits_ && fits(0, slots_.size() / 2 + 1);
    }
    if (wake) room_.notify_one();
  }

  const Limits limits_;
  const bool unordered_;
  std::mutex mutex_;
  std::condition_variable room_;      // for the producer
  std::condition_variable takeable_;  // for the taker
  std::vector<Slot> slots_;
  std::vector<std::size_t> free_;        // unordered: slots to reserve
  std::vector<std::size_t> readyOrder_;  // unordered: slots in the order they were put
  std::size_t reserved_ = 0;  // sequence of the next reservation
  std::size_t next_ = 0;      // ordered: sequence of the next result to hand out
  std::size_t held_ = 0;
  std::size_t heldCost_ = 0;
  std::size_t ready_ = 0;
  bool closed_ = false;
  bool producerWaits_ = false;
  bool takerWaits_ = false;
  Clock::time_point takerWaitsSince_{};
};

}  // namespace fpcheck
