#include "foundation/exceptions.h"

#include <cstring>
#include <limits>

#include "foundation/system_error.h"

namespace plx {

Exception::Exception(std::string message) {
  // Restores the last error on every way out, including a failed copy.
  const SystemErrorPreserver preserver;
  message_ = std::move(message);
}

const char* Exception::what() const noexcept {
  const char* description = getDescription();
  if (description == nullptr || *description == '\0') return message_.c_str();
  if (message_.find(description) != std::string::npos) return message_.c_str();
  try {
    // Composed aside and swapped in, so that running out of memory half way
    // leaves the detail as it was rather than a half-made text.
    std::string composed;
    composed.reserve(std::strlen(description) + 2 + message_.size());
    composed.append(description).append(": ").append(message_);
    message_.swap(composed);
  } catch (...) {
    // Out of memory: the bare detail is better than nothing.
  }
  return message_.c_str();
}

std::uint32_t numericCast(std::int64_t value) {
  constexpr auto maximum = std::numeric_limits<std::uint32_t>::max();
  if (value < 0) {
    throw BadCastException("Cannot cast the negative value '" + std::to_string(value) +
                           "' to an unsigned type");
  }
  if (static_cast<std::uint64_t>(value) > maximum) {
    throw BadCastException("Cannot cast the value '" + std::to_string(value) +
                           "' to the type holding maximum '" + std::to_string(maximum) + "'");
  }
  return static_cast<std::uint32_t>(value);
}

void appendSystemErrorCode(std::string& message) {
  const std::uint32_t code = lastSystemError();
  if (code == 0) return;
  message += ". System error code: ";
  message += std::to_string(code);
}

}  // namespace plx

namespace kesp {

const char* ErrorCodeException::getDescription() const noexcept {
  switch (module_) {
    case ErrorModulePlugin: return "Plugin error";
    case ErrorModuleLocalScanner: return "Local scanner error";
    case ErrorModuleCloudScanner: return "Cloud scanner error";
    case ErrorModuleUrlChecker: return "URL checker error";
    case ErrorModuleFpChecker: return "FP checker error";
    default: return "Error in unknown module";
  }
}

}  // namespace kesp
