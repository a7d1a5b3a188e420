#include "tests/network/proxy_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace kesp::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::filesystem::path fsPath(const std::string& utf8Path) {
  return std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end()));
}

}  // namespace

ProxyProcess ProxyProcess::tinyproxy(const std::string& user, const std::string& password) {
  ProxyProcess proxy;
  proxy.start({"tinyproxy", "-d", "-c", "{config}"},
              "Port {port}\nListen 127.0.0.1\nTimeout 30\nLogFile \"{log}\"\nLogLevel Info\n"
              "MaxClients 64\nAllow 127.0.0.1\n" +
                  (user.empty() ? std::string() : "BasicAuth " + user + " " + password + "\n"));
  return proxy;
}

#ifndef _WIN32
ProxyProcess ProxyProcess::microsocks() {
  ProxyProcess proxy;
  proxy.start({"microsocks", "-i", "127.0.0.1", "-p", "{port}"}, "");
  return proxy;
}
#endif

ProxyProcess::ProxyProcess(ProxyProcess&& other) noexcept
    : scratch_(std::move(other.scratch_)),
      log_(std::move(other.log_)),
      pid_(std::exchange(other.pid_, -1)),
      port_(other.port_) {}

ProxyProcess::~ProxyProcess() { stop(); }

void ProxyProcess::start(const std::vector<std::string>& argv, const std::string& configTemplate) {
  scratch_ = std::make_unique<TempDir>();
  log_ = scratch_->file("proxy.log");
  const std::string config = scratch_->file("proxy.conf");
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = freePort();
    const auto fill = [&](const std::string& text) {
      return replaced(replaced(replaced(text, "{port}", std::to_string(port_)), "{log}",
                               programPath(log_)),
                      "{config}", programPath(config));
    };
    // Binary: a Linux program reads it, to which a CR would be part of the line.
    std::ofstream(fsPath(config), std::ios::binary) << fill(configTemplate);
    std::vector<std::string> arguments;
    for (const auto& argument : argv) arguments.push_back(fill(argument));
    // microsocks logs to its standard streams, tinyproxy to its log file.
    spawn(arguments, configTemplate.empty());

    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      if (accepts(port_)) return;
      if (!running()) break;  // another port
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop();
  }
  throw std::runtime_error(argv[0] + " does not listen");
}

std::vector<std::string> ProxyProcess::logLines() const {
  std::vector<std::string> lines;
  std::ifstream in(fsPath(log_));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t ProxyProcess::countLines(const std::string& text) const {
  std::size_t count = 0;
  for (const auto& line : logLines()) count += line.find(text) != std::string::npos;
  return count;
}

}  // namespace kesp::test
