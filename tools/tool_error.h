// How fpcheck ends: its exit codes, and the error that carries one.
#pragma once

#include <stdexcept>
#include <string>

namespace fpcheck {

enum ExitCode : int {
  ExitSuccess = 0,  // every check ran
  ExitFailure = 1,  // a check, or what it needs (plug-in, checker), failed
  ExitUsage = 2,    // the command line was wrong
};

// A failure that ends the command: the message says what was wrong and what
// to do about it.
class ToolError : public std::runtime_error {
 public:
  ToolError(ExitCode code, const std::string& message) : std::runtime_error(message), code_(code) {}
  ExitCode code() const noexcept { return code_; }

 private:
  ExitCode code_;
};

}  // namespace fpcheck
