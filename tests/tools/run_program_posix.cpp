// POSIX only: posix_spawn with files, pipes or a pseudo-terminal as the
// child's standard streams.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <thread>

#include "tests/support/test_paths.h"
#include "tests/tools/run_program.h"

extern char** environ;

namespace kesp::test {

namespace {

std::string readAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int openOrThrow(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  return fd;
}

// The child starts with the signals' default actions (a test may ignore
// SIGPIPE for itself), or with SIGPIPE ignored when asked.
class SpawnAttributes {
 public:
  explicit SpawnAttributes(bool ignoreBrokenPipe) {
    ::posix_spawnattr_init(&attributes_);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    if (!ignoreBrokenPipe) sigaddset(&defaults, SIGPIPE);
    sigset_t none;
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setsigmask(&attributes_, &none);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  }
  ~SpawnAttributes() { ::posix_spawnattr_destroy(&attributes_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

std::vector<char*> argumentVector(const std::string& program,
                                  const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int exitCodeOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

bool canGiveTerminal() { return true; }

std::string programFileName(const std::string& name) { return name; }

ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                      const ProgramSettings& settings) {
  TempDir scratch;
  {
    std::ofstream input(scratch.file("in"), std::ios::binary);
    input << settings.input;
  }
  const int in = openOrThrow(scratch.file("in"), O_RDONLY);
  const int out = openOrThrow(scratch.file("out"), O_WRONLY | O_CREAT | O_TRUNC);
  int err = -1;
  int terminal = -1;
  if (settings.terminalStderr) {
    terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    err = openOrThrow(::ptsname(terminal), O_RDWR | O_NOCTTY);
  } else {
    err = openOrThrow(scratch.file("err"), O_WRONLY | O_CREAT | O_TRUNC);
  }

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  if (!settings.workingDirectory.empty()) {
    ::posix_spawn_file_actions_addchdir_np(&actions, settings.workingDirectory.c_str());
  }
  std::vector<char*> argv = argumentVector(program, arguments);
  const SpawnAttributes attributes(false);
  pid_t child = 0;
  const int spawned =
      ::posix_spawn(&child, program.c_str(), &actions, attributes.get(), argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(in);
  ::close(out);
  ::close(err);

  // The terminal is read while the child runs, so that it never blocks on a
  // full terminal buffer; reading ends with EIO once the child is gone.
  std::string terminalText;
  std::thread reader;
  if (terminal >= 0) {
    reader = std::thread([&] {
      char buffer[4096];
      for (;;) {
        const ssize_t count = ::read(terminal, buffer, sizeof buffer);
        if (count > 0) {
          terminalText.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EINTR) {
          continue;
        } else {
          break;
        }
      }
    });
  }
  ProgramRun run;
  if (spawned == 0) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.exitCode = exitCodeOf(status);
  }
  if (reader.joinable()) reader.join();
  if (terminal >= 0) ::close(terminal);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  run.out = readAll(scratch.file("out"));
  run.err = settings.terminalStderr ? terminalText : readAll(scratch.file("err"));
  return run;
}

struct RunningProgram::Process {
  TempDir scratch;
  pid_t pid = -1;
  int input = -1;   // the write end of its standard input
  int output = -1;  // the read end of its standard output
  std::optional<int> exitCode;
};

RunningProgram::RunningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               Settings settings)
    : process_(std::make_unique<Process>()) {
  // A write to a program that has ended must fail here, not end the test.
  std::signal(SIGPIPE, SIG_IGN);
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("no pipe");
  }
  const int err = openOrThrow(process_->scratch.file("err"), O_WRONLY | O_CREAT | O_TRUNC);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  ::posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
  std::vector<char*> argv = argumentVector(program, arguments);
  const SpawnAttributes attributes(settings.ignoreBrokenPipe);
  const int spawned = ::posix_spawn(&process_->pid, program.c_str(), &actions, attributes.get(),
                                    argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err);
  process_->input = in[1];
  process_->output = out[0];
  if (spawned != 0) {
    closeFd(process_->input);
    closeFd(process_->output);
    throw std::runtime_error("cannot start " + program);
  }
}

RunningProgram::~RunningProgram() {
  closeFd(process_->input);
  closeFd(process_->output);
  if (!process_->exitCode) {
    ::kill(process_->pid, SIGKILL);
    int status = 0;
    while (::waitpid(process_->pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool RunningProgram::write(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = ::write(process_->input, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

void RunningProgram::closeInput() { closeFd(process_->input); }

void RunningProgram::closeOutput() {
  closeFd(process_->output);
  outputEnded_ = true;
}

bool RunningProgram::readSome(std::chrono::milliseconds timeout) {
  pollfd ready{process_->output, POLLIN, 0};
  const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
  if (polled < 0) return errno == EINTR;
  if (polled == 0) return true;
  char bytes[4096];
  const ssize_t count = ::read(process_->output, bytes, sizeof bytes);
  if (count < 0) return errno == EINTR || errno == EAGAIN;
  buffer_.append(bytes, static_cast<std::size_t>(count));
  return count > 0;
}

void RunningProgram::sendSignal(int signal) { ::kill(process_->pid, signal); }

std::optional<int> RunningProgram::wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!process_->exitCode) {
    int status = 0;
    const pid_t ended = ::waitpid(process_->pid, &status, WNOHANG);
    if (ended == process_->pid) {
      process_->exitCode = exitCodeOf(status);
    } else if (std::chrono::steady_clock::now() >= deadline) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  return process_->exitCode;
}

std::string RunningProgram::err() const { return readAll(process_->scratch.file("err")); }

}  // namespace kesp::test
