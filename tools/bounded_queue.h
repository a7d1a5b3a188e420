// A first-in first-out queue of at most a fixed number of items between
// threads: push waits while it is full, pop while it is empty. close() lets
// the consumers drain what is left; stop() ends both sides at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace fpcheck {

template <class T>
class BoundedQueue {
 public:
  explicit BoundedQueue(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}
  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  // Waits while the queue is full. False, and the item not taken, once the
  // queue is closed or stopped.
  bool push(T item) {
    std::unique_lock lock(mutex_);
    if (items_.size() >= capacity_ && !closed_) {
      ++waitingPushers_;
      notFull_.wait(lock, [&] { return items_.size() < capacity_ || closed_; });
      --waitingPushers_;
    }
    if (closed_) return false;
    items_.push_back(std::move(item));
    // Only a consumer that sleeps needs the system call of a wake-up.
    const bool wake = waitingPoppers_ > 0;
    lock.unlock();
    if (wake) notEmpty_.notify_one();
    return true;
  }

  // The oldest item, waiting while the queue is empty and open; none once it
  // is closed and empty, or stopped.
  std::optional<T> pop() {
    std::unique_lock lock(mutex_);
    if (items_.empty() && !closed_) {
      ++waitingPoppers_;
      notEmpty_.wait(lock, [&] { return !items_.empty() || closed_; });
      --waitingPoppers_;
    }
    if (items_.empty()) return std::nullopt;
    std::optional<T> item(std::move(items_.front()));
    items_.pop_front();
    const bool wake = waitingPushers_ > 0;
    lock.unlock();
    if (wake) notFull_.notify_one();
    return item;
  }

  // No further item comes: pop hands out what is queued, then none.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

  // No further item comes and what is queued is not handed out: each is
  // given to dropped instead (which must not throw), then discarded. Every
  // waiting push and pop returns.
  template <class Dropped>
  void stop(Dropped&& dropped) noexcept {
    std::lock_guard lock(mutex_);
    closed_ = true;
    for (T& item : items_) dropped(item);
    items_.clear();
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

  // Whether nothing is queued now.
  bool empty() {
    std::lock_guard lock(mutex_);
    return items_.empty();
  }

 private:
  const std::size_t capacity_;
  std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::condition_variable notFull_;
  std::deque<T> items_;
  std::size_t waitingPushers_ = 0;
  std::size_t waitingPoppers_ = 0;
  bool closed_ = false;
};

}  // namespace fpcheck
