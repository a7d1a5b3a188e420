// Runs a program as a child process, the way a person or a script would, and
// collects its exit code and output.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramSettings& settings = {});

// A program that runs while the test talks to it: its standard input and
// output are pipes the test holds, standard error goes to a file.
class RunningProgram {
 public:
  struct Settings {
    // POSIX: the program starts with SIGPIPE ignored, as under some shells
    // and services; a write to a closed pipe then fails instead of ending
    // it. (Windows has no SIGPIPE: there it always fails.)
    bool ignoreBrokenPipe = false;
  };

  RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                 Settings settings);
  RunningProgram(const std::string& program, const std::vector<std::string>& arguments)
      : RunningProgram(program, arguments, Settings{}) {}
  // Kills the program if it still runs, and waits for it.
  ~RunningProgram();
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Writes to its standard input; false once the program no longer reads it.
  bool write(const std::string& text);
  void closeInput();
  // The next whole line of standard output without its line end; nothing if
  // none came within the time-out or the output ended first.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout);
  // Whatever standard output still holds, up to its end or the time-out.
  std::string readRest(std::chrono::milliseconds timeout);
  void closeOutput();
  // POSIX only: sends the signal.
  void sendSignal(int signal);
  // The exit code (128 + the signal for a program a signal ended), or nothing
  // while it still runs at the time-out.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // Standard error, whole once the program has ended.
  std::string err() const;

  struct Process;

 private:
  // Appends what standard output has within the time-out to buffer_; false
  // once it has ended.
  bool readSome(std::chrono::milliseconds timeout);

  std::unique_ptr<Process> process_;
  std::string buffer_;  // read from standard output, not yet a whole line
  bool outputEnded_ = false;
};

// Whether runProgram can put standard error on a terminal here: on POSIX
// through a pseudo-terminal; not on Windows.
bool canGiveTerminal();

// A program's file name: "name" on POSIX, "name.exe" on Windows.
std::string programFileName(const std::string& name);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace kesp::test
