#include "tools/failure_text.h"

#include <new>

namespace fpcheck {

std::string failureText(const std::exception_ptr& failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
}

void noteFailure(std::string& target, const std::exception_ptr& failure) noexcept {
  try {
    target = failureText(failure);
  } catch (...) {
    target = "out of memory";
  }
}

}  // namespace fpcheck
