// The rule at every operation the host (or the checker SDK) can call: no
// exception leaves it. Memory exhaustion gives the out-of-memory result
// without a log line; any other standard exception is logged at level 0 with
// its what() text and gives the error result; anything else is logged as
// "Unknown exception" and gives the error result.
#pragma once

#include <exception>
#include <new>
#include <type_traits>

#include "foundation/logger.h"

namespace plx {

inline constexpr const char kUnknownException[] = "Unknown exception";

// Logs the exception in flight by the rule above; returns true when it was
// memory exhaustion (which is not logged). Call only inside a catch block.
inline bool logCurrentException(const LogChannel& log) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return true;
  } catch (const std::exception& error) {
    log.format(LogError, "%s", error.what());
  } catch (...) {
    log.format(LogError, "%s", kUnknownException);
  }
  return false;
}

// Runs body and returns its result, or onError / onOutOfMemory by the rule.
template <class Result, class Body>
Result callGuarded(const LogChannel& log, Result onError, Result onOutOfMemory,
                   Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return logCurrentException(log) ? onOutOfMemory : onError;
  }
}

// The same for operations without a result.
template <class Body>
void callGuarded(const LogChannel& log, Body&& body) noexcept {
  static_assert(std::is_void_v<decltype(body())>);
  try {
    body();
  } catch (...) {
    logCurrentException(log);
  }
}

}  // namespace plx
