// A command line, or a file it names, that the kit cannot work with: exit 2.
#pragma once

#include <stdexcept>

namespace conform {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kExitPassed = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace conform
