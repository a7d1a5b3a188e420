#include "tests/network/proxy_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace kesp::test {
namespace {

using Clock = std::chrono::steady_clock;

// A port nothing listens on right now (the system's choice).
int freePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

ProxyProcess ProxyProcess::tinyproxy(const std::string& user, const std::string& password) {
  ProxyProcess proxy;
  proxy.start({"tinyproxy", "-d", "-c", "{config}"},
              "Port {port}\nListen 127.0.0.1\nTimeout 30\nLogFile \"{log}\"\nLogLevel Info\n"
              "MaxClients 64\nAllow 127.0.0.1\nBasicAuth " + user + " " + password + "\n");
  return proxy;
}

ProxyProcess ProxyProcess::microsocks() {
  ProxyProcess proxy;
  proxy.start({"microsocks", "-i", "127.0.0.1", "-p", "{port}"}, "");
  return proxy;
}

ProxyProcess::ProxyProcess(ProxyProcess&& other) noexcept
    : scratch_(std::move(other.scratch_)),
      log_(std::move(other.log_)),
      child_(std::exchange(other.child_, -1)),
      port_(other.port_) {}

ProxyProcess::~ProxyProcess() { stop(); }

void ProxyProcess::start(const std::vector<std::string>& argv, const std::string& configTemplate) {
  scratch_ = std::make_unique<TempDir>();
  log_ = scratch_->file("proxy.log");
  const std::string config = scratch_->file("proxy.conf");
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = freePort();
    const auto fill = [&](const std::string& text) {
      return replaced(replaced(replaced(text, "{port}", std::to_string(port_)), "{log}", log_),
                      "{config}", config);
    };
    std::ofstream(config) << fill(configTemplate);
    std::vector<std::string> arguments;
    for (const auto& argument : argv) arguments.push_back(fill(argument));
    std::vector<char*> pointers;
    for (auto& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // microsocks logs to its standard streams, tinyproxy to its log file.
    if (configTemplate.empty()) {
      posix_spawn_file_actions_addopen(&actions, 1, log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    const int spawned =
        posix_spawnp(&child_, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error(argv[0] + " cannot be started: is it installed?");

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (accepts(port_)) return;
      int status = 0;
      if (waitpid(child_, &status, WNOHANG) == child_) {
        child_ = -1;
        break;  // another port
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop();
  }
  throw std::runtime_error(argv[0] + " does not listen");
}

void ProxyProcess::stop() {
  if (child_ <= 0) return;
  kill(child_, SIGTERM);
  int status = 0;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (waitpid(child_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(child_, SIGKILL);
      waitpid(child_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  child_ = -1;
}

std::vector<std::string> ProxyProcess::logLines() const {
  std::vector<std::string> lines;
  std::ifstream in(log_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t ProxyProcess::countLines(const std::string& text) const {
  std::size_t count = 0;
  for (const auto& line : logLines()) count += line.find(text) != std::string::npos;
  return count;
}

}  // namespace kesp::test
