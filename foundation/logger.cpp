#include "foundation/logger.h"

#include <cstdio>
#include <memory>

namespace plx {

namespace {
constexpr const char kLengthError[] = "(Logger error) Failed to get log message length";
constexpr const char kConstructError[] = "(Logger error) Failed to construct the log message";
}  // namespace

bool Logger::isEnabled(std::uint32_t level, std::uint32_t module,
                       std::uint32_t flags) const noexcept {
  if (logInterface_ == nullptr) return false;
  try {
    return logInterface_->isEnabled(level, module, flags);
  } catch (...) {
    return false;
  }
}

void Logger::log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                 const char* text) const noexcept {
  if (!isEnabled(level, module, flags)) return;
  try {
    logInterface_->log(level, module, flags, text);
  } catch (...) {
    // A sink that throws loses its line; the caller must never see it.
  }
}

void Logger::logFormat(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                       const char* format, ...) const noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  logFormatV(level, module, flags, format, arguments);
  va_end(arguments);
}

void Logger::logFormatV(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                        const char* format, std::va_list arguments) const noexcept {
  // The enabled test comes first so that unwanted messages cost nothing else.
  if (!isEnabled(level, module, flags)) return;

  std::va_list measureArguments;
  va_copy(measureArguments, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measureArguments);
  va_end(measureArguments);

  try {
    if (length < 0) {
      logInterface_->log(LogError, module, flags, kLengthError);
      return;
    }
  } catch (...) {
    return;
  }

  std::uint64_t size = static_cast<std::uint64_t>(length) + 1;
  if (size > maxMessageSize_) {
    flags |= kLogTruncated;
    size = maxMessageSize_;
  }
  try {
    const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(size));
    std::vsnprintf(buffer.get(), static_cast<std::size_t>(size), format, arguments);
    logInterface_->log(level, module, flags, buffer.get());
  } catch (...) {
    try {
      logInterface_->log(LogError, module, flags, kConstructError);
    } catch (...) {
    }
  }
}

void LogChannel::format(std::uint32_t level, const char* format, ...) const noexcept {
  std::va_list arguments;
  va_start(arguments, format);
  logger_->logFormatV(level, module_, flags_, format, arguments);
  va_end(arguments);
}

}  // namespace plx
