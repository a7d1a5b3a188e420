// Real proxies from the system's packages, started by a test on loopback:
// tinyproxy (HTTP, CONNECT, basic authentication) and microsocks (SOCKS5).
// Each writes its log to a file the test reads; the destructor stops it.
// The Windows tests start the Linux programs under Wine; WinHTTP cannot use
// a SOCKS proxy, so they need no microsocks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_paths.h"

namespace kesp::test {

class ProxyProcess {
 public:
  // tinyproxy requiring user:password (basic authentication); an empty user
  // means a tinyproxy that asks for none.
  static ProxyProcess tinyproxy(const std::string& user, const std::string& password);
#ifndef _WIN32
  // microsocks without authentication.
  static ProxyProcess microsocks();
#endif

  ProxyProcess(ProxyProcess&& other) noexcept;
  ProxyProcess& operator=(ProxyProcess&&) = delete;
  ~ProxyProcess();

  int port() const { return port_; }
  // The proxy's log lines so far.
  std::vector<std::string> logLines() const;
  // How many log lines hold text.
  std::size_t countLines(const std::string& text) const;

 private:
  ProxyProcess() = default;
  // Starts argv (with {port}, {config} and {log} replaced) on a free port;
  // retries a few ports when the program cannot bind one; throws when it
  // never listens.
  void start(const std::vector<std::string>& argv, const std::string& configTemplate);

  // Stops the program and waits (bounded) for its end; nothing when none runs.
  void stop();

  std::unique_ptr<TempDir> scratch_;
  std::string log_;
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace kesp::test
