#include "reference/cloud/connection_queue.h"

namespace fpcloud {

void ConnectionQueue::enqueue(std::function<void()> connection) {
  onConnection_();
  std::lock_guard lock(mutex_);
  jobs_.push_back(std::move(connection));
  if (jobs_.size() > idle_ && threads_.size() < maxThreads_)
    threads_.emplace_back([this] { work(); });
  ready_.notify_one();
}

void ConnectionQueue::shutdown() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
    threads.swap(threads_);
  }
  ready_.notify_all();
  for (auto& thread : threads) thread.join();
}

void ConnectionQueue::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++idle_;
    ready_.wait(lock, [this] { return !jobs_.empty() || closing_; });
    --idle_;
    if (jobs_.empty()) return;
    auto job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    try {
      job();
    } catch (...) {
      // One connection's failure ends that connection only.
    }
    lock.lock();
  }
}

}  // namespace fpcloud
