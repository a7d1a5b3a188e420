// The exception family of the plug-in. Every failure inside the plug-in
// travels as one of these; none crosses to the host or to the checker SDK.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace plx {

// what() is the detail message with the kind's description in front:
// "Error loading library: <detail>". The prefix is added on the first call
// of what() and never twice, and not at all when the detail already contains
// the description. Constructing an exception leaves the thread's last system
// error value unchanged, so a catcher still sees the failing call's error.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  ~Exception() override = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  const char* what() const noexcept override;
  virtual const char* getDescription() const noexcept { return "Exception"; }

 private:
  mutable std::string message_;
};

class BadCastException : public Exception {
 public:
  using Exception::Exception;
  const char* getDescription() const noexcept override { return "Bad cast"; }
};

class ConversionStringException : public Exception {
 public:
  using Exception::Exception;
  const char* getDescription() const noexcept override {
    return "Error converting string encoding";
  }
};

class LoadingLibraryException : public Exception {
 public:
  using Exception::Exception;
  const char* getDescription() const noexcept override { return "Error loading library"; }
};

class LoadingLibrarySymbolException : public Exception {
 public:
  using Exception::Exception;
  const char* getDescription() const noexcept override {
    return "Error loading library symbol";
  }
};

// A signed 64-bit value as unsigned 32-bit, or BadCastException.
std::uint32_t numericCast(std::int64_t value);

// Appends ". System error code: N" when the thread's last system error N is
// not 0.
void appendSystemErrorCode(std::string& message);

}  // namespace plx

namespace kesp {

class InternalException : public plx::Exception {
 public:
  using plx::Exception::Exception;
  const char* getDescription() const noexcept override { return "Internal error"; }
};

enum ErrorModule : std::int32_t {
  ErrorModulePlugin = 0,
  ErrorModuleLocalScanner = 1,
  ErrorModuleCloudScanner = 2,
  ErrorModuleUrlChecker = 3,
  ErrorModuleFpChecker = 4,
};

// A failure that the catching host operation returns as a status code.
class ErrorCodeException : public plx::Exception {
 public:
  ErrorCodeException(std::int32_t module, std::string message, std::int32_t code)
      : plx::Exception(std::move(message)), module_(module), code_(code) {}

  const char* getDescription() const noexcept override;
  std::int32_t getModule() const noexcept { return module_; }
  std::int32_t getErrorCode() const noexcept { return code_; }

 private:
  std::int32_t module_;
  std::int32_t code_;
};

}  // namespace kesp
