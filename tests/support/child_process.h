// The one way tests start programs: a child process with its standard
// streams where the test wants them, ended at the latest when its owner goes.
// child_process_posix.cpp and child_process_win32.cpp hold the system calls;
// the Windows part also starts the Linux side's programs under Wine
// (fpcloud, tinyproxy, openssl).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kesp::test {

// Where one standard stream of a child goes.
struct ChildStream {
  enum class Kind {
    Null,      // nowhere: the null device
    File,      // path: read for standard input, created anew for the others
    Pipe,      // a pipe the test writes (standard input) or reads (output)
    Terminal,  // standard error only, POSIX only: a terminal whose text is
               // in path once the child has ended
    Output,    // standard error only: where standard output goes
  };
  Kind kind = Kind::Null;
  std::string path{};

  static ChildStream file(std::string path) { return {Kind::File, std::move(path)}; }
  static ChildStream pipe() { return {Kind::Pipe, {}}; }
  static ChildStream terminal(std::string path) { return {Kind::Terminal, std::move(path)}; }
  static ChildStream output() { return {Kind::Output, {}}; }
};

// Given by designated initializers; what is left out is empty or off.
struct ChildSetup {
  std::string program{};  // a path, or a name looked up in PATH
  std::vector<std::string> arguments{};
  ChildStream input{};
  ChildStream output{};
  ChildStream error{};
  std::string workingDirectory{};  // empty: the test's own
  // POSIX: the child starts with SIGPIPE ignored, as under some shells and
  // services, so that a write to a closed pipe fails instead of ending it.
  // (A Windows program has no SIGPIPE: there a write always fails.)
  bool ignoreBrokenPipe = false;
  // Windows, under Wine: a program of the Linux side, by its Unix path or
  // name, whose streams are files or nothing; an argument that is an
  // absolute Windows path reaches it as its Unix path. No difference
  // elsewhere.
  bool linuxProgram = false;
};

// The signals a test sends, by their POSIX numbers; a Windows program ends
// at once on either.
inline constexpr int kTerminate = 15;
inline constexpr int kKill = 9;

class ChildProcess {
 public:
  // Starts the program; throws std::runtime_error when it cannot.
  explicit ChildProcess(const ChildSetup& setup);
  // Kills the child if it still runs, and waits for it.
  ~ChildProcess();

  // Writes to the standard input pipe; false once the child no longer reads
  // it.
  bool write(std::string_view text) { return system_->write(text); }
  void closeInput() { system_->closeInput(); }
  // Appends to text what the standard output pipe holds within the time-out;
  // false once the output has ended.
  bool read(std::string& text, std::chrono::milliseconds timeout) {
    return system_->read(text, timeout);
  }
  void closeOutput() { system_->closeOutput(); }

  // Sends the signal (any on POSIX; kTerminate or kKill to a Windows
  // program, else std::logic_error).
  void signal(int number);
  // The exit code (128 + the signal for a child a signal ended) once the
  // child has ended, or nothing while it still runs at the time-out. From
  // any thread.
  std::optional<int> wait(std::chrono::milliseconds timeout);
  // Sends kKill and waits (bounded): the exit code, or nothing for a child
  // that would not end.
  std::optional<int> kill();

  // The platform's part: one started process. A child without pipes (a
  // Linux program under Wine) keeps the defaults.
  struct System {
    virtual ~System() = default;
    virtual bool write(std::string_view) { throw std::logic_error("no pipe to the child"); }
    virtual void closeInput() {}
    virtual bool read(std::string&, std::chrono::milliseconds) {
      throw std::logic_error("no pipe from the child");
    }
    virtual void closeOutput() {}
    virtual void signal(int number) = 0;
    // The exit code once the child has ended; never waits.
    virtual std::optional<int> exitCode() = 0;
  };

 private:
  std::unique_ptr<System> system_;
  std::mutex mutex_;  // around signal() and exitCode()
};

// The platform's start (child_process_posix.cpp, child_process_win32.cpp).
std::unique_ptr<ChildProcess::System> startChild(const ChildSetup& setup);

// A program's file name: "name" on POSIX, "name.exe" on Windows.
std::string programFileName(const std::string& name);

// Whether a child's standard error can be a terminal here (POSIX: through a
// pseudo-terminal; not on Windows).
bool canGiveTerminal();

// The path as a program of the Linux side reads it: under Wine its Unix
// path, elsewhere the path itself.
std::string linuxPathOf(const std::string& path);

}  // namespace kesp::test
