// POSIX only: posix_spawn with files (or a pseudo-terminal) as the child's
// standard streams.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
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
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
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
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (reader.joinable()) reader.join();
  if (terminal >= 0) ::close(terminal);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  run.out = readAll(scratch.file("out"));
  run.err = settings.terminalStderr ? terminalText : readAll(scratch.file("err"));
  return run;
}

}  // namespace kesp::test
