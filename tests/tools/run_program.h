// Runs a program as a child process, the way a person or a script would, and
// collects its exit code and output.
#pragma once

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

// Whether runProgram can put standard error on a terminal here: on POSIX
// through a pseudo-terminal; not on Windows.
bool canGiveTerminal();

// A program's file name: "name" on POSIX, "name.exe" on Windows.
std::string programFileName(const std::string& name);

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string& text);

}  // namespace kesp::test
