// Runs a program as a child process, the way a person or a script would, and
// collects its exit code and output.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

struct ProgramRun {
  int exitCode = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

struct ProgramSettings {
  std::string input;             // standard input
  std::string workingDirectory;  // empty: the test's own
  bool terminalStderr = false;   // standard error on a terminal (see canGiveTerminal)
};

// Runs the program to its end.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramSettings& settings = {});

// A program that runs while the test talks to it: its standard input and
// output are pipes the test holds, standard error goes to a file.
class RunningProgram {
 public:
  struct Settings {
    // See ChildSetup::ignoreBrokenPipe.
    bool ignoreBrokenPipe = false;
  };

  RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                 Settings settings);
  RunningProgram(const std::string& program, const std::vector<std::string>& arguments)
      : RunningProgram(program, arguments, Settings{}) {}

  // Writes to its standard input; false once the program no longer reads it.
  bool write(const std::string& text) { return child_->write(text); }
  void closeInput() { child_->closeInput(); }
  // The next whole line of standard output without its line end; nothing if
  // none came within the time-out or the output ended first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // Whatever standard output still holds, up to its end or the time-out.
  std::string readRest(std::chrono::milliseconds timeout);
  void closeOutput();
  // POSIX only: sends the signal.
  void sendSignal(int signal) { child_->signal(signal); }
  // The exit code (128 + the signal for a program a signal ended), or nothing
  // while it still runs at the time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout) { return child_->wait(timeout); }
  // Standard error, whole once the program has ended.
  std::string err() const;

 private:
  TempDir scratch_;
  // Killed, if it still runs, when the program goes.
  std::unique_ptr<ChildProcess> child_;
  std::string buffer_;  // read from standard output, not yet a whole line
  bool outputEnded_ = false;
};

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace kesp::test
