#include "foundation/logger.h"

#include <cstdio>
#include <memory>

namespace plx {

namespace {
constexpr const char kLengthError[] = "(Logger error) Failed to get log message length";
constexpr const char kConstructError[] = "(Logger error) Failed to construct the log message";

// Where a text cut after `limit` bytes must end so that the host never
// receives part of a UTF-8 character. text holds at least limit + 1 bytes:
// the kept ones and the first one cut off. When that one continues a
// character whose lead byte is among the kept ones, the whole character goes.
// Anything that is not a sequence split by the cut (plain ASCII, bytes that
// are not UTF-8 at all) is cut at limit, as it always was.
std::size_t utf8CutLength(const char* text, std::size_t limit) noexcept {
  const auto byteAt = [text](std::size_t index) { return static_cast<unsigned char>(text[index]); };
  const auto continues = [](unsigned char byte) { return (byte & 0xC0u) == 0x80u; };
  if (!continues(byteAt(limit))) return limit;
  // A character has at most three bytes after its lead byte.
  std::size_t lead = limit;
  while (lead > 0 && limit - lead < 3 && continues(byteAt(lead))) --lead;
  const unsigned char first = byteAt(lead);
  const std::size_t length = (first & 0xE0u) == 0xC0u   ? 2
                             : (first & 0xF0u) == 0xE0u ? 3
                             : (first & 0xF8u) == 0xF0u ? 4
                                                        : 1;
  return lead + length > limit ? lead : limit;
}
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

  // A message that does not fit is formatted one byte further than it is
  // kept, so that the cut can see whether it splits a character.
  std::uint64_t size = static_cast<std::uint64_t>(length) + 1;
  const bool cut = size > maxMessageSize_;
  if (cut) {
    flags |= kLogTruncated;
    size = maxMessageSize_ + 1;
  }
  try {
    const auto buffer = std::make_unique<char[]>(static_cast<std::size_t>(size));
    std::vsnprintf(buffer.get(), static_cast<std::size_t>(size), format, arguments);
    if (cut) {
      const auto limit = static_cast<std::size_t>(maxMessageSize_ - 1);
      buffer[utf8CutLength(buffer.get(), limit)] = '\0';
    }
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
