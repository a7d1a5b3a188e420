// POSIX only: posix_spawnp with the null device, files, pipes or a
// pseudo-terminal as the child's standard streams.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "foundation/unique_resource.h"
#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"

extern char** environ;

namespace kesp::test {
namespace {

struct DescriptorTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static void close(Handle descriptor) noexcept { ::close(descriptor); }
};
using Descriptor = plx::UniqueResource<DescriptorTraits>;

// One of posix_spawn's objects, destroyed when it goes.
template <typename Object>
using SpawnObject = std::unique_ptr<Object, int (*)(Object*)>;

class PosixChild final : public ChildProcess::System {
 public:
  explicit PosixChild(const ChildSetup& setup) {
    posix_spawn_file_actions_t actionsStorage;
    ::posix_spawn_file_actions_init(&actionsStorage);
    const SpawnObject<posix_spawn_file_actions_t> actions(&actionsStorage,
                                                          ::posix_spawn_file_actions_destroy);
    // The child's ends: dup2'd into place, then closed here once it runs.
    std::vector<Descriptor> childEnds;
    const auto attach = [&](const ChildStream& stream, int target, int openFlags) {
      switch (stream.kind) {
        case ChildStream::Kind::Null:
        case ChildStream::Kind::File:
          ::posix_spawn_file_actions_addopen(
              actions.get(), target, stream.path.empty() ? "/dev/null" : stream.path.c_str(),
              openFlags, 0600);
          break;
        case ChildStream::Kind::Pipe: {
          int ends[2];  // closed on exec: the child has only the one dup2'd into place
          if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("no pipe");
          Descriptor pipe[2] = {Descriptor(ends[0]), Descriptor(ends[1])};
          const bool childReads = target == STDIN_FILENO;
          (childReads ? input_ : output_) = std::move(pipe[childReads ? 1 : 0]);
          ::posix_spawn_file_actions_adddup2(actions.get(), pipe[childReads ? 0 : 1].get(), target);
          childEnds.push_back(std::move(pipe[childReads ? 0 : 1]));
          break;
        }
        case ChildStream::Kind::Terminal: {
          constexpr int kFlags = O_RDWR | O_NOCTTY | O_CLOEXEC;
          terminal_.reset(::posix_openpt(kFlags));
          if (!terminal_ || ::grantpt(terminal_.get()) != 0 || ::unlockpt(terminal_.get()) != 0 ||
              !childEnds.emplace_back(::open(::ptsname(terminal_.get()), kFlags)))
            throw std::runtime_error("no pseudo-terminal");
          ::posix_spawn_file_actions_adddup2(actions.get(), childEnds.back().get(), target);
          terminalFile_ = stream.path;
          break;
        }
        case ChildStream::Kind::Output:
          ::posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, target);
          break;
      }
    };
    attach(setup.input, STDIN_FILENO, O_RDONLY);
    attach(setup.output, STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    attach(setup.error, STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    if (!setup.workingDirectory.empty())
      ::posix_spawn_file_actions_addchdir_np(actions.get(), setup.workingDirectory.c_str());

    // A write to a child that has ended must fail in the test, not end it.
    if (setup.input.kind == ChildStream::Kind::Pipe || setup.ignoreBrokenPipe)
      std::signal(SIGPIPE, SIG_IGN);
    // The child starts with the signals' default actions (the test may
    // ignore some for itself), SIGPIPE left ignored when asked.
    posix_spawnattr_t attributesStorage;
    ::posix_spawnattr_init(&attributesStorage);
    const SpawnObject<posix_spawnattr_t> attributes(&attributesStorage, ::posix_spawnattr_destroy);
    sigset_t defaults;
    sigset_t none;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    if (!setup.ignoreBrokenPipe) sigaddset(&defaults, SIGPIPE);
    ::posix_spawnattr_setsigdefault(attributes.get(), &defaults);
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv{const_cast<char*>(setup.program.c_str())};
    for (const std::string& argument : setup.arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (::posix_spawnp(&pid_, setup.program.c_str(), actions.get(), attributes.get(),
                       argv.data(), environ) != 0)
      throw std::runtime_error("cannot start " + setup.program);
    // Read while the child runs, so that it never blocks on a full
    // terminal; the reading ends (EIO) once the child is gone.
    if (terminal_) terminalReader_ = std::thread([this] { copyTerminal(); });
  }

  // Reaps the child (and so ends the terminal's reader) whatever happened.
  ~PosixChild() override {
    if (!exitCode_) {
      ::kill(pid_, SIGKILL);
      reap(0);
    }
  }

  bool write(std::string_view text) override {
    while (!text.empty()) {
      const ssize_t count = ::write(input_.get(), text.data(), text.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return false;
      text.remove_prefix(static_cast<std::size_t>(count));
    }
    return true;
  }

  void closeInput() override { input_.reset(); }

  bool read(std::string& text, std::chrono::milliseconds timeout) override {
    if (!output_) return false;
    pollfd ready{output_.get(), POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(timeout.count()));
    if (polled <= 0) return polled == 0 || errno == EINTR;
    char bytes[4096];
    const ssize_t count = ::read(output_.get(), bytes, sizeof bytes);
    if (count < 0) return errno == EINTR || errno == EAGAIN;
    text.append(bytes, static_cast<std::size_t>(count));
    return count > 0;
  }

  void closeOutput() override { output_.reset(); }

  void signal(int number) override {
    if (!exitCode_) ::kill(pid_, number);
  }

  std::optional<int> exitCode() override {
    if (!exitCode_) reap(WNOHANG);
    return exitCode_;
  }

 private:
  void reap(int options) {
    int status = 0;
    pid_t ended = 0;
    while ((ended = ::waitpid(pid_, &status, options)) < 0 && errno == EINTR) {
    }
    if (ended != pid_) return;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (terminalReader_.joinable()) terminalReader_.join();
  }

  void copyTerminal() {
    std::ofstream out(fromUtf8(terminalFile_), std::ios::binary | std::ios::trunc);
    char buffer[4096];
    for (ssize_t count = 0; (count = ::read(terminal_.get(), buffer, sizeof buffer)) != 0;) {
      if (count > 0) out.write(buffer, count);
      else if (errno != EINTR) break;
    }
  }

  pid_t pid_ = -1;
  std::optional<int> exitCode_;
  Descriptor input_;   // the write end of its standard input
  Descriptor output_;  // the read end of its standard output
  Descriptor terminal_;
  std::string terminalFile_;
  std::thread terminalReader_;
};

}  // namespace

std::unique_ptr<ChildProcess::System> startChild(const ChildSetup& setup) {
  return std::make_unique<PosixChild>(setup);
}

std::string programFileName(const std::string& name) { return name; }

bool canGiveTerminal() { return true; }

std::string linuxPathOf(const std::string& path) { return path; }

}  // namespace kesp::test
