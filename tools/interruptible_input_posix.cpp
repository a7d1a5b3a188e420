// POSIX only: signal handlers and poll(2).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "foundation/unique_resource.h"
#include "tools/interruptible_input.h"

namespace fpcheck {

namespace {

struct DescriptorTraits {
  using Handle = int;
  static Handle invalid() noexcept { return -1; }
  static void close(Handle descriptor) noexcept { ::close(descriptor); }
};

// File-wide because the signal handler can reach nothing else; the object
// holds them while it lives.
std::atomic<int> received{0};
std::atomic<bool> stopped{false};
// A pipe that a signal or stop() writes one byte into: poll(2) on it and on
// standard input wakes the reader whatever thread the signal is delivered to.
plx::UniqueResource<DescriptorTraits> wakeReader;
plx::UniqueResource<DescriptorTraits> wakeWriter;
struct sigaction previousInt;
struct sigaction previousTerm;

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void poke() noexcept {
  const char byte = 1;
  // Non-blocking: a full pipe already wakes the reader.
  [[maybe_unused]] const ssize_t written = ::write(wakeWriter.get(), &byte, 1);
}

extern "C" void onSignal(int signal) {
  const int savedErrno = errno;
  int none = 0;
  received.compare_exchange_strong(none, signal);
  poke();
  errno = savedErrno;
}

}  // namespace

InterruptibleInput::InterruptibleInput() {
  received = 0;
  stopped = false;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot make a pipe");
  }
  wakeReader.reset(wake[0]);
  wakeWriter.reset(wake[1]);
  struct sigaction action {};
  action.sa_handler = onSignal;
  ::sigemptyset(&action.sa_mask);
  // SA_RESTART: the plug-in's and the SDK's own system calls go on
  // undisturbed while the running checks finish; poll(2) here is woken by the
  // pipe. SA_RESETHAND: a second interrupt ends the process at once.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, &previousInt);
  ::sigaction(SIGTERM, &action, &previousTerm);
}

InterruptibleInput::~InterruptibleInput() {
  ::sigaction(SIGINT, &previousInt, nullptr);
  ::sigaction(SIGTERM, &previousTerm, nullptr);
  wakeReader.reset();
  wakeWriter.reset();
}

std::size_t InterruptibleInput::read(char* buffer, std::size_t size, std::string& error) {
  for (;;) {
    if (stopped || received != 0) return 0;
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeReader.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      error = std::generic_category().message(errno);
      return 0;
    }
    if (fds[1].revents != 0) continue;  // the flags say why
    if ((fds[0].revents & POLLNVAL) != 0) return 0;  // no standard input at all
    if (fds[0].revents == 0) continue;
    const ssize_t count = ::read(STDIN_FILENO, buffer, size);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    error = std::generic_category().message(errno);
    return 0;
  }
}

void InterruptibleInput::stop() noexcept {
  stopped = true;
  poke();
}

int InterruptibleInput::interrupt() const noexcept { return received; }

}  // namespace fpcheck
