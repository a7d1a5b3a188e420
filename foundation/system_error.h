// The calling thread's last system error value: GetLastError/SetLastError on
// Windows, errno elsewhere.
#pragma once

#include <cstdint>

namespace plx {

std::uint32_t lastSystemError() noexcept;
void setLastSystemError(std::uint32_t value) noexcept;

// Keeps the last system error value across a scope, so that logging or
// clean-up between a failing system call and the code that reads its error
// cannot change what that code sees.
class SystemErrorPreserver {
 public:
  SystemErrorPreserver() noexcept : saved_(lastSystemError()) {}
  ~SystemErrorPreserver() { setLastSystemError(saved_); }
  SystemErrorPreserver(const SystemErrorPreserver&) = delete;
  SystemErrorPreserver& operator=(const SystemErrorPreserver&) = delete;

  std::uint32_t saved() const noexcept { return saved_; }

 private:
  std::uint32_t saved_;
};

}  // namespace plx
