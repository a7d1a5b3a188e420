#include "tests/network/proxy_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "tests/support/loopback.h"

namespace kesp::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// How long the proxy has to listen, and then to end after each signal.
constexpr auto kProcessBound = std::chrono::seconds(10);

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
      process_(std::move(other.process_)),
      port_(other.port_) {}

ProxyProcess::~ProxyProcess() { stop(); }

void ProxyProcess::start(const std::vector<std::string>& argv, const std::string& configTemplate) {
  scratch_ = std::make_unique<TempDir>();
  log_ = scratch_->file("proxy.log");
  const std::string config = scratch_->file("proxy.conf");
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = closedPort();
    const auto fill = [&](const std::string& text) {
      return replaced(replaced(replaced(text, "{port}", std::to_string(port_)), "{log}",
                               linuxPathOf(log_)),
                      "{config}", linuxPathOf(config));
    };
    // Binary: a Linux program reads it, to which a CR would be part of the line.
    std::ofstream(fromUtf8(config), std::ios::binary) << fill(configTemplate);
    ChildSetup setup;
    setup.program = argv[0];
    for (auto argument = argv.begin() + 1; argument != argv.end(); ++argument)
      setup.arguments.push_back(fill(*argument));
    // microsocks logs to its standard streams, tinyproxy to its log file.
    if (configTemplate.empty()) setup.output = ChildStream::file(log_);
    setup.error = ChildStream::output();
    setup.linuxProgram = true;
    try {
      process_ = std::make_unique<ChildProcess>(setup);
    } catch (const std::runtime_error&) {
      throw std::runtime_error(argv[0] + " cannot be started: is it installed?");
    }

    const auto deadline = Clock::now() + kProcessBound;
    while (Clock::now() < deadline) {
      if (acceptsConnection(port_)) return;
      if (process_->wait(std::chrono::milliseconds(0))) break;  // another port
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop();
  }
  throw std::runtime_error(argv[0] + " does not listen");
}

void ProxyProcess::stop() {
  if (process_ == nullptr) return;
  process_->signal(kTerminate);
  if (!process_->wait(kProcessBound) && !process_->kill()) {
    // Called by the destructor: a proxy that outlives the test fails it
    // rather than ending the test program.
    ADD_FAILURE() << "the proxy does not end";
  }
  process_.reset();
}

std::vector<std::string> ProxyProcess::logLines() const {
  std::vector<std::string> lines;
  std::ifstream in(fromUtf8(log_));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::size_t ProxyProcess::countLines(const std::string& text) const {
  std::size_t count = 0;
  for (const auto& line : logLines()) count += line.find(text) != std::string::npos;
  return count;
}

}  // namespace kesp::test
