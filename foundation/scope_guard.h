// Runs an undo action when a scope ends, unless dismissed.
#pragma once

#include <functional>
#include <utility>

namespace plx {

class ScopeGuard {
 public:
  ScopeGuard() noexcept = default;
  explicit ScopeGuard(std::function<void()> function) noexcept
      : function_(std::move(function)), active_(static_cast<bool>(function_)) {}

  ScopeGuard(ScopeGuard&& other) noexcept
      : function_(std::move(other.function_)), active_(std::exchange(other.active_, false)) {}
  ScopeGuard& operator=(ScopeGuard&& other) noexcept {
    if (this != &other) {
      run();
      function_ = std::move(other.function_);
      active_ = std::exchange(other.active_, false);
    }
    return *this;
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

  ~ScopeGuard() { run(); }

  // The action will not run.
  void dismiss() noexcept { active_ = false; }
  bool active() const noexcept { return active_; }

 private:
  void run() noexcept {
    if (!active_) return;
    active_ = false;
    try {
      function_();
    } catch (...) {
      // An undo action that fails must not turn one failure into two.
    }
  }

  std::function<void()> function_;
  bool active_ = false;
};

}  // namespace plx
