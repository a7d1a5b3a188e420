// POSIX only: posix_spawn, waitpid, /proc.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <thread>

#include "tools/conform/kit_platform.h"

extern char** environ;

namespace conform {

namespace {

// Owns a spawn's file actions and attributes for the length of the call.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

ChildEnd endOf(int status) {
  ChildEnd end;
  if (WIFSIGNALED(status)) {
    end.kind = ChildEnd::Crashed;
    end.code = static_cast<unsigned long>(WTERMSIG(status));
  } else {
    end.kind = ChildEnd::Exited;
    end.code = static_cast<unsigned long>(WEXITSTATUS(status));
  }
  return end;
}

}  // namespace

ChildEnd runThisProgram(const std::vector<std::string>& arguments,
                        std::chrono::milliseconds timeout, const std::filesystem::path& out,
                        const std::filesystem::path& err) {
  // The running program, whatever path started it; by the file the
  // kernel's link names, so that the child's threads bear its name too.
  std::error_code unreadable;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", unreadable);
  if (unreadable) program = "/proc/self/exe";
  const char* self = program.c_str();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("fpcsdk-conform"));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&setup.actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  // A group of its own, so that a time-out ends whatever the SDK started too.
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP);

  pid_t pid = 0;
  if (const int error = posix_spawn(&pid, self, &setup.actions, &setup.attributes, argv.data(),
                                    environ);
      error != 0) {
    ChildEnd end;
    end.whyNotStarted = std::string("posix_spawn: ") + ::strerror(error);
    return end;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return endOf(status);
    if (done < 0 && errno != EINTR) {
      ChildEnd end;
      end.whyNotStarted = std::string("waitpid: ") + ::strerror(errno);
      return end;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ChildEnd end;
  end.kind = ChildEnd::TimedOut;
  return end;
}

void crashQuietly() {}

std::string describeCrash(unsigned long code) {
  const int signal = static_cast<int>(code);
  const char* name = ::sigabbrev_np(signal);
  return "signal " + std::to_string(signal) + (name != nullptr ? " (SIG" + std::string(name) + ")" : "");
}

std::vector<ThreadSeen> threadsNow() {
  std::vector<ThreadSeen> threads;
  std::error_code error;
  for (std::filesystem::directory_iterator task("/proc/self/task", error), end;
       !error && task != end; task.increment(error)) {
    ThreadSeen thread;
    thread.id = std::stoull(task->path().filename().string());
    std::ifstream(task->path() / "comm") >> thread.origin;
    threads.push_back(thread);
  }
  return threads;
}

}  // namespace conform
