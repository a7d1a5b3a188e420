// The server's connections, one worker thread each.
//
// The HTTP library hands every accepted connection to a task queue and keeps
// it on one thread for as long as the client keeps it alive. With its fixed
// pool, a few idle kept-alive clients (an SDK keeps one per instance) or one
// slow client would hold every later connection up, so this queue starts a
// worker whenever none is idle, up to a bound a loopback service never
// reaches in practice. It is also the one place that sees every accepted
// connection, so it counts them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>

namespace fpcloud {

class ConnectionQueue final : public httplib::TaskQueue {
 public:
  explicit ConnectionQueue(std::function<void()> onConnection, std::size_t maxThreads = 512)
      : onConnection_(std::move(onConnection)), maxThreads_(maxThreads) {}
  ~ConnectionQueue() override { shutdown(); }

  void enqueue(std::function<void()> connection) override;
  // Runs what is queued, then joins every worker.
  void shutdown() override;

 private:
  void work();

  std::function<void()> onConnection_;
  std::size_t maxThreads_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool closing_ = false;
};

}  // namespace fpcloud
