// The plug-in's logger: tests whether a message is wanted, formats it into a
// bounded buffer and hands it to a LogInterface sink.
#pragma once

#include <cstdarg>
#include <cstdint>

#if defined(__MINGW32__)
// mingw's stdio defaults to the C99-conforming printf family, so the checks
// must follow GNU rules, not the msvcrt ones.
#define PLX_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define PLX_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

namespace plx {

enum LogLevel : std::uint32_t {
  LogError = 0,
  LogWarning = 1,
  LogInfo = 2,
  LogDebug = 3,
};

// Bit 0 of the flags: the message was truncated to the maximum message size.
inline constexpr std::uint32_t kLogTruncated = 1u;

// A sink for finished log lines.
class LogInterface {
 public:
  virtual bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) = 0;
  // text is NUL-terminated and valid only during the call.
  virtual void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                   const char* text) = 0;
  virtual ~LogInterface() = default;
};

// Immutable after construction and lock-free: any number of threads may log
// at once, each formatting into its own buffer. Never throws.
class Logger {
 public:
  // The most bytes, terminator included, that one formatted message delivers
  // (its buffer has one more, to see where a cut falls).
  static constexpr std::uint64_t kMaxMessageSize = 16384;

  explicit Logger(LogInterface* logInterface,
                  std::uint64_t maxMessageSize = kMaxMessageSize) noexcept
      : logInterface_(logInterface), maxMessageSize_(maxMessageSize) {}

  LogInterface* logInterface() const noexcept { return logInterface_; }
  std::uint64_t maxMessageSize() const noexcept { return maxMessageSize_; }

  // Whether the sink wants a message; false without a sink.
  bool isEnabled(std::uint32_t level, std::uint32_t module, std::uint32_t flags) const noexcept;

  // A fixed text, delivered whole whatever its length.
  void log(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
           const char* text) const noexcept;

  // A printf-style message. Nothing is formatted unless the sink wants it; a
  // text longer than maxMessageSize - 1 bytes arrives cut, with kLogTruncated
  // set: after maxMessageSize - 1 bytes, or before the UTF-8 character that
  // the cut would split.
  void logFormat(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                 const char* format, ...) const noexcept PLX_PRINTF_FORMAT(5, 6);
  void logFormatV(std::uint32_t level, std::uint32_t module, std::uint32_t flags,
                  const char* format, std::va_list arguments) const noexcept;

 private:
  LogInterface* logInterface_;
  std::uint64_t maxMessageSize_;
};

// A logger bound to one module number and flags value, so that call sites
// name only the level and the message.
class LogChannel {
 public:
  constexpr LogChannel(const Logger& logger, std::uint32_t module, std::uint32_t flags) noexcept
      : logger_(&logger), module_(module), flags_(flags) {}

  const Logger& logger() const noexcept { return *logger_; }
  std::uint32_t module() const noexcept { return module_; }
  std::uint32_t flags() const noexcept { return flags_; }

  bool isEnabled(std::uint32_t level) const noexcept {
    return logger_->isEnabled(level, module_, flags_);
  }
  void text(std::uint32_t level, const char* text) const noexcept {
    logger_->log(level, module_, flags_, text);
  }
  void format(std::uint32_t level, const char* format, ...) const noexcept
      PLX_PRINTF_FORMAT(3, 4);

 private:
  const Logger* logger_;
  std::uint32_t module_;
  std::uint32_t flags_;
};

}  // namespace plx
