// Windows (under Wine): the Linux proxy, started by its Unix path through a
// shell. Wine gives a Windows program no handle to a Linux process to signal
// or wait for, so the shell starts the proxy in the background, writes its
// pid to a file, waits for it and writes its exit status to another file;
// the proxy is stopped by kill(1) and has ended once that status is there.
// The shell is the proxy's parent and reaps it, so an ended proxy leaves no
// zombie behind that kill -0 would still find.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/network/proxy_process.h"
#include "tests/support/unix_program.h"

namespace kesp::test {
namespace {

using Clock = std::chrono::steady_clock;

// How long the proxy has to write its pid, and then to end after each signal.
constexpr auto kProcessBound = std::chrono::seconds(10);
constexpr auto kPoll = std::chrono::milliseconds(5);

struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("no Winsock");
  }
  ~Winsock() { WSACleanup(); }
};

class Socket {
 public:
  Socket() {
    static const Winsock winsock;
    socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) throw std::runtime_error("no socket");
  }
  ~Socket() { closesocket(socket_); }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

std::filesystem::path fsPath(const std::string& utf8Path) {
  return std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end()));
}

// The number a file of the shell holds; -1 while it has none (the shell
// renames it into place whole).
int numberIn(const std::string& file) {
  std::ifstream in(fsPath(file));
  int number = -1;
  return in >> number ? number : -1;
}

}  // namespace

int ProxyProcess::freePort() {
  Socket s;
  sockaddr_in address = loopback(0);
  int length = sizeof address;
  if (bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("no free port on loopback");
  return ntohs(address.sin_port);
}

bool ProxyProcess::accepts(int port) {
  Socket s;
  const sockaddr_in address = loopback(port);
  return connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

std::string ProxyProcess::programPath(const std::string& path) { return unixPathOf(path); }

void ProxyProcess::spawn(const std::vector<std::string>& arguments, bool outputToLog) {
  const std::string pidFile = scratch_->file("proxy.pid");
  const std::string statusFile = scratch_->file("proxy.status");
  std::filesystem::remove(fsPath(pidFile));
  std::filesystem::remove(fsPath(statusFile));
  std::vector<std::string> shell{
      "-c",
      "p=$1; s=$2; shift 2; exec 2>&1; \"$@\" & echo $! > \"$p.part\" && mv \"$p.part\" \"$p\"; "
      "wait $!; echo $? > \"$s.part\" && mv \"$s.part\" \"$s\"",
      "sh", pidFile, statusFile};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  startUnixProgram("/bin/sh", shell, outputToLog ? log_ : scratch_->file("proxy.out"));
  const auto deadline = Clock::now() + kProcessBound;
  while ((pid_ = numberIn(pidFile)) <= 0) {
    if (Clock::now() > deadline)
      throw std::runtime_error(arguments[0] + " cannot be started under Wine");
    std::this_thread::sleep_for(kPoll);
  }
}

bool ProxyProcess::running() {
  if (pid_ > 0 && numberIn(scratch_->file("proxy.status")) >= 0) pid_ = -1;
  return pid_ > 0;
}

void ProxyProcess::stop() {
  for (const char* signal : {"-TERM", "-KILL"}) {
    if (!running()) return;
    runUnixProgram("/bin/kill", {signal, std::to_string(pid_)}, scratch_->file("kill.out"));
    const auto deadline = Clock::now() + kProcessBound;
    while (running() && Clock::now() < deadline) std::this_thread::sleep_for(kPoll);
  }
  // Called by the destructor: a proxy that outlives the test fails it
  // rather than ending the test program.
  if (running()) ADD_FAILURE() << "the proxy (pid " << pid_ << ") does not end";
  pid_ = -1;
}

}  // namespace kesp::test
