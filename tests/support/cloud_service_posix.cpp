// POSIX: fpcloud beside the test program, its output through a pipe, stopped
// by SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/cloud_service_process.h"
#include "tests/support/test_paths.h"

extern char** environ;

namespace kesp::test {
namespace {

// After its "stopped:" line or the end of its output the process ends in
// moments.
constexpr auto kExitBound = std::chrono::seconds(5);

class PosixServiceProcess final : public ServiceProcess {
 public:
  explicit PosixServiceProcess(const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("fpcloud: no pipe");
    const std::string program = executableDirectory() + "/fpcloud";
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    const int spawned =
        posix_spawn(&child_, program.c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
      close(pipeFds[0]);
      throw std::runtime_error("cannot start " + program);
    }
    output_ = pipeFds[0];
  }

  ~PosixServiceProcess() override {
    if (child_ > 0) finish(false);
    if (output_ >= 0) close(output_);
  }

  std::string read() override {
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(output_, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return {};
      return std::string(buffer, static_cast<std::size_t>(got));
    }
  }

  void requestStop() override {
    if (child_ > 0) kill(child_, SIGTERM);
  }

  int finish(bool ending) override {
    if (child_ <= 0) return -1;
    int status = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + (ending ? kExitBound : std::chrono::seconds(0));
    pid_t done = 0;
    while ((done = waitpid(child_, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (done == 0) {
      kill(child_, SIGKILL);
      waitpid(child_, &status, 0);
    }
    child_ = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t child_ = -1;
  int output_ = -1;
};

}  // namespace

std::unique_ptr<ServiceProcess> ServiceProcess::start(const std::vector<std::string>& arguments) {
  return std::make_unique<PosixServiceProcess>(arguments);
}

}  // namespace kesp::test
